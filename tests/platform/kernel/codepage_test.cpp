// UTF-16 conversions and the multibyte-aware separator search.
#include "platform/codepage.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "framework/afx.h"
#include "framework/afxpath.h"

// glibc's newlocale keeps the search path it builds from LOCPATH for good; LeakSanitizer
// would report it as a leak of this program.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:argz_add_sep\n";
}

namespace {

// Makes a locale current for this thread while it lives.
struct ThreadLocale {
    explicit ThreadLocale(const char* name) : loc(::newlocale(LC_ALL_MASK, name, nullptr)) {
        if (loc != nullptr) previous = ::uselocale(loc);
    }
    ~ThreadLocale() {
        if (loc != nullptr) ::uselocale(previous), ::freelocale(loc);
    }
    locale_t loc, previous = nullptr;
};

// The zh_CN.GBK locale: from the system, or else built with localedef into a scratch folder
// that LOCPATH points to. Each test runs in its own process, so LOCPATH stays in this one.
bool MakeGbkLocaleAvailable() {
    if (locale_t l = ::newlocale(LC_ALL_MASK, "zh_CN.GBK", nullptr)) {
        ::freelocale(l);
        return true;
    }
    // Removed when the test program ends.
    static const struct ScratchLocales {
        std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("talrec-locale-" + std::to_string(::getpid()));
        ~ScratchLocales() { std::filesystem::remove_all(dir); }
    } scratch;
    const std::filesystem::path& dir = scratch.dir;
    std::filesystem::create_directories(dir);
    const std::string cmd =
        "localedef -i zh_CN -f GBK '" + (dir / "zh_CN.GBK").string() + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return false;
    ::setenv("LOCPATH", dir.c_str(), 1);
    locale_t l = ::newlocale(LC_ALL_MASK, "zh_CN.GBK", nullptr);
    if (l == nullptr) return false;
    ::freelocale(l);
    return true;
}

// Conversions into a buffer that is large enough.
std::u16string ToWide(UINT cp, const std::string& s) {
    WCHAR out[64];
    const int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), out, 64);
    return {out, static_cast<std::size_t>(n > 0 ? n : 0)};
}

std::string ToMultiByte(UINT cp, const std::u16string& s) {
    char out[64];
    const int n =
        WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), out, 64, nullptr, nullptr);
    return {out, static_cast<std::size_t>(n > 0 ? n : 0)};
}

const std::string kUtf8Text = "d\xC3\xA9j\xC3\xA0 \xE2\x98\x83 \xF0\x9D\x84\x9E";  // déjà ☃ 𝄞
const std::u16string kWideText = u"d\u00E9j\u00E0 \u2603 \U0001D11E";

TEST(CodePage, Utf8RoundTripsWithSurrogatePairs) {
    for (UINT cp : {CP_UTF8, CP_ACP}) {  // CP_ACP: the untouched C locale counts as UTF-8
        EXPECT_EQ(ToWide(cp, kUtf8Text), kWideText);
        EXPECT_EQ(ToMultiByte(cp, kWideText), kUtf8Text);
    }
}

TEST(CodePage, OutputThatDoesNotFitFails) {
    WCHAR wide[4];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", -1, nullptr, 0), 5);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", 4, wide, 4), 4);  // exact fit

    char narrow[4];  // three of "é" need six bytes
    SetLastError(0);
    EXPECT_EQ(
        WideCharToMultiByte(CP_UTF8, 0, u"\u00E9\u00E9\u00E9", 3, narrow, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(CodePage, InvalidInputFailsOnRequestOrIsReplaced) {
    const std::string bad =
        "a\xFF"
        "b\xC3";  // a stray byte and a cut-off sequence
    WCHAR wide[8];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad.data(), 4, wide, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(ToWide(CP_UTF8, bad), u"a\uFFFDb\uFFFD");

    const std::u16string lone = u"x\xD800y";
    char narrow[8];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.data(), 3, narrow, 8, nullptr,
                                  nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(ToMultiByte(CP_UTF8, lone), "x\xEF\xBF\xBDy");
}

TEST(CodePage, EachByteThatBeginsNoWellFormedUtf8SequenceIsOneReplacement) {
    const struct {
        std::string bytes;
        std::u16string wide;
    } cases[] = {
        {"\xE2\x82"
         "A",
         u"\uFFFD\uFFFDA"},                                 // cut short by the next character
        {"\xC0\x80", u"\uFFFD\uFFFD"},                      // an overlong zero
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
        {"\x80z", u"\uFFFDz"},                              // a stray continuation byte
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},                // the last code point
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToWide(CP_UTF8, c.bytes), c.wide) << c.bytes;
        WCHAR out[8];
        const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.bytes.data(),
                                          static_cast<int>(c.bytes.size()), out, 8);
        EXPECT_EQ(n != 0, c.wide.find(u'\uFFFD') == std::u16string::npos) << c.bytes;
    }
    // A surrogate pair cut in two: each half alone.
    EXPECT_EQ(ToMultiByte(CP_UTF8, u"\xDC00\xD800"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(SeparatorSearch, TrailingBytesOfMultibyteCharactersAreNotSeparators) {
    if (!MakeGbkLocaleAvailable()) {
        GTEST_SKIP() << "no zh_CN.GBK locale, and localedef could not build one "
                        "(Debian package locales)";
    }
    ThreadLocale gbk("zh_CN.GBK");
    ASSERT_NE(gbk.loc, nullptr);
    EXPECT_EQ(GetACP(), 936u);
    // 乗 is 0x81 0x5C in GBK: its second byte is a backslash.
    const char* path = "dir\\\x81\x5Cname";
    const char* hit = AfxStrRChrMB(path, '\\');
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit - path, 3);
    EXPECT_EQ(AfxStrRChrMB("\x81\x5C", '\\'), nullptr);
    // A byte-wise search would have found the trailing byte.
    EXPECT_EQ(std::strrchr(path, '\\') - path, 5);
    EXPECT_EQ(AfxGetFileName("/tmp/\xD6\xD0/\x81\x5C.wav"), "\x81\x5C.wav");
}

}  // namespace
