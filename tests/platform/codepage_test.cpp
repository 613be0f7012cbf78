// The ANSI code page, UTF-16 conversions and the multibyte-aware separator search.
#include "platform/codepage.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/afx.h"
#include "platform/mbstring.h"

// glibc's newlocale keeps the search path it builds from LOCPATH for good; LeakSanitizer
// would report it as a leak of this program.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:argz_add_sep\n";
}

namespace {

// Makes a locale current for this thread while it lives.
class ThreadLocale {
  public:
    explicit ThreadLocale(const char* name) : loc_(::newlocale(LC_ALL_MASK, name, nullptr)) {
        if (loc_ != nullptr) previous_ = ::uselocale(loc_);
    }
    ~ThreadLocale() {
        if (loc_ == nullptr) return;
        ::uselocale(previous_);
        ::freelocale(loc_);
    }
    bool ok() const { return loc_ != nullptr; }

  private:
    locale_t loc_;
    locale_t previous_ = nullptr;
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

std::u16string ToWide(UINT cp, const std::string& s, DWORD flags = 0) {
    const int n = MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    if (n > 0) {
        EXPECT_EQ(
            MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), out.data(), n), n);
    }
    return out;
}

std::string ToMultiByte(UINT cp, const std::u16string& s, DWORD flags = 0) {
    const int n = WideCharToMultiByte(cp, flags, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    if (n > 0) {
        EXPECT_EQ(WideCharToMultiByte(cp, flags, s.data(), static_cast<int>(s.size()), out.data(),
                                      n, nullptr, nullptr),
                  n);
    }
    return out;
}

const std::string kUtf8Text = "d\xC3\xA9j\xC3\xA0 \xE2\x98\x83 \xF0\x9D\x84\x9E";  // déjà ☃ 𝄞
const std::u16string kWideText = u"d\u00E9j\u00E0 \u2603 \U0001D11E";

TEST(CodePage, TheUntouchedCLocaleCountsAsUtf8) {
    ThreadLocale c("C");
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(GetACP(), CP_UTF8);
    EXPECT_EQ(ToWide(CP_ACP, kUtf8Text), kWideText);
    ThreadLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    EXPECT_EQ(GetACP(), CP_UTF8);
}

TEST(CodePage, Utf8RoundTripsWithSurrogatePairs) {
    for (UINT cp : {CP_UTF8, CP_ACP}) {
        const std::u16string wide = ToWide(cp, kUtf8Text);
        EXPECT_EQ(wide, kWideText);
        EXPECT_EQ(wide.size(), 9u);  // seven characters, and 𝄞 takes two units
        EXPECT_EQ(ToMultiByte(cp, wide), kUtf8Text);
    }
    // -1: up to and including the terminating zero, which is counted and written.
    WCHAR wide[16];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 16), 4);
    EXPECT_EQ(wide[3], u'\0');
    char narrow[16];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9", -1, narrow, 16, nullptr, nullptr), 3);
    EXPECT_STREQ(narrow, "\xC3\xA9");
    // Embedded zeros are characters when a length is given.
    EXPECT_EQ(ToWide(CP_UTF8, std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(CodePage, OutputThatDoesNotFitFails) {
    WCHAR wide[4];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", -1, nullptr, 0), 5);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", 4, wide, 4), 4);  // exact fit

    char narrow[4];
    // "é" needs two bytes: three of them need six.
    EXPECT_EQ(
        WideCharToMultiByte(CP_UTF8, 0, u"\u00E9\u00E9\u00E9", 3, nullptr, 0, nullptr, nullptr), 6);
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

TEST(CodePage, BadArgumentsAreRefused) {
    WCHAR wide[4];
    char narrow[4];
    BOOL used = FALSE;
    auto refused = [](int result) {
        return result == 0 && GetLastError() == ERROR_INVALID_PARAMETER;
    };
    EXPECT_TRUE(refused(MultiByteToWideChar(CP_UTF8, 0, nullptr, 3, wide, 4)));
    EXPECT_TRUE(refused(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, wide, 4)));
    EXPECT_TRUE(refused(MultiByteToWideChar(CP_UTF8, 0, "abc", -2, wide, 4)));
    EXPECT_TRUE(refused(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 4)));
    EXPECT_TRUE(refused(MultiByteToWideChar(12345, 0, "abc", 3, wide, 4)));
    EXPECT_TRUE(refused(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 4, "*", nullptr)));
    EXPECT_TRUE(refused(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 4, nullptr, &used)));
    EXPECT_TRUE(refused(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, -1, nullptr, nullptr)));
}

TEST(CodePage, NamedSingleByteCodePageUsesTheDefaultCharacter) {
    // "é" exists in 1252, "☃" does not.
    char narrow[8] = {};
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"\u00E9\u2603", 2, narrow, 8, nullptr, &used), 2);
    EXPECT_EQ(std::string(narrow, 2), "\xE9?");
    EXPECT_TRUE(used);
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"\u00E9", 1, narrow, 8, "*", &used), 1);
    EXPECT_FALSE(used);
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"\U0001F600", 2, narrow, 8, "*", &used), 1);
    EXPECT_EQ(narrow[0], '*');  // one character, one default
    EXPECT_EQ(ToWide(1252, "\x80"), u"\u20AC");
}

TEST(CodePage, GbkLocaleGivesItsCodePageAndItsConversions) {
    if (!MakeGbkLocaleAvailable()) {
        GTEST_SKIP() << "no zh_CN.GBK locale, and localedef could not build one "
                        "(Debian package locales)";
    }
    ThreadLocale gbk("zh_CN.GBK");
    ASSERT_TRUE(gbk.ok());
    EXPECT_EQ(GetACP(), 936u);
    EXPECT_EQ(CodePageCharset(CP_ACP), "GBK");
    const std::string text = "\xD6\xD0\xCE\xC4";  // 中文
    EXPECT_EQ(ToWide(CP_ACP, text), u"\u4E2D\u6587");
    EXPECT_EQ(ToMultiByte(CP_ACP, u"\u4E2D\u6587"), text);
    EXPECT_EQ(ToWide(936, text), ToWide(CP_ACP, text));

    char narrow[8];
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\U0001F600", 2, narrow, 8, nullptr, &used), 1);
    EXPECT_TRUE(used);
}

TEST(SeparatorSearch, TrailingBytesOfMultibyteCharactersAreNotSeparators) {
    if (!MakeGbkLocaleAvailable()) {
        GTEST_SKIP() << "no zh_CN.GBK locale, and localedef could not build one "
                        "(Debian package locales)";
    }
    ThreadLocale gbk("zh_CN.GBK");
    ASSERT_TRUE(gbk.ok());
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

TEST(SeparatorSearch, Utf8AndPlainNames) {
    ThreadLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    EXPECT_EQ(AfxGetFileName("/home/u/d\xC3\xA9j\xC3\xA0/take.wav"), "take.wav");
    EXPECT_EQ(AfxGetFileName("take.wav"), "take.wav");
    EXPECT_EQ(AfxGetFileName("/folder/"), "");
    const unsigned char s[] = "a/b/c";
    EXPECT_EQ(_mbsrchr(s, '/'), s + 3);
    EXPECT_EQ(_mbsrchr(s, 'x'), nullptr);
    EXPECT_EQ(_mbsrchr(s, 0), s + 5);
    // Invalid bytes count as characters of their own.
    EXPECT_STREQ(AfxStrRChrMB("\xFF/\xC3", PATH_SEPARATOR), "/\xC3");
}

}  // namespace
