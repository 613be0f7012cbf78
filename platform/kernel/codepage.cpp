// Code pages: the locale's character set and the Windows numbers for it; UTF-8 through the
// platform's own codec, every other character set over iconv.
#include "platform/codepage.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/kernel/utf8.h"

namespace {

struct CodePageName {
    UINT codePage;
    const char* charset;  // the iconv name
};

// Code pages by Windows number, for conversions that name one.
constexpr CodePageName kCodePages[] = {
    {65001, "UTF-8"},      {936, "GBK"},           {54936, "GB18030"},     {950, "BIG5"},
    {932, "CP932"},        {949, "CP949"},         {51949, "EUC-KR"},      {51932, "EUC-JP"},
    {874, "CP874"},        {1250, "CP1250"},       {1251, "CP1251"},       {1252, "CP1252"},
    {1253, "CP1253"},      {1254, "CP1254"},       {1255, "CP1255"},       {1256, "CP1256"},
    {1257, "CP1257"},      {1258, "CP1258"},       {437, "CP437"},         {850, "CP850"},
    {866, "CP866"},        {20127, "ASCII"},       {20866, "KOI8-R"},      {21866, "KOI8-U"},
    {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"}, {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},  {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"}, {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},
};

// Locale character sets by their names as nl_langinfo gives them, compared in upper case
// without '-' and '_'. ASCII (the "C" locale) counts as UTF-8.
struct CharsetNumber {
    const char* name;
    UINT codePage;
};
constexpr CharsetNumber kCharsets[] = {
    {"UTF8", 65001},      {"ANSIX3.41968", 65001}, {"ASCII", 65001},    {"GBK", 936},
    {"GB2312", 936},      {"GB18030", 54936},      {"BIG5", 950},       {"SHIFTJIS", 932},
    {"SJIS", 932},        {"CP932", 932},          {"EUCKR", 51949},    {"CP949", 949},
    {"EUCJP", 51932},     {"TIS620", 874},         {"CP874", 874},      {"CP1250", 1250},
    {"CP1251", 1251},     {"CP1252", 1252},        {"CP1253", 1253},    {"CP1254", 1254},
    {"CP1255", 1255},     {"CP1256", 1256},        {"CP1257", 1257},    {"CP1258", 1258},
    {"KOI8R", 20866},     {"KOI8U", 21866},        {"ISO88591", 28591}, {"ISO88592", 28592},
    {"ISO88593", 28593},  {"ISO88594", 28594},     {"ISO88595", 28595}, {"ISO88596", 28596},
    {"ISO88597", 28597},  {"ISO88598", 28598},     {"ISO88599", 28599}, {"ISO885913", 28603},
    {"ISO885915", 28605},
};

std::string Normalised(const char* name) {
    std::string out;
    for (const char* p = name; *p != 0; ++p) {
        if (*p == '-' || *p == '_') continue;
        out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(*p))));
    }
    return out;
}

bool IsAnsi(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP;
}

// The thread locale's character set, with ASCII taken as UTF-8.
std::string LocaleCharset() {
    const char* codeset = ::nl_langinfo(CODESET);
    if (codeset == nullptr || *codeset == 0) return "UTF-8";
    const std::string n = Normalised(codeset);
    if (n == "ANSIX3.41968" || n == "ASCII") return "UTF-8";
    return codeset;
}

bool IsUtf8(const std::string& charset) {
    return Normalised(charset.c_str()) == "UTF8";
}

// UTF-16 in memory order of a little-endian stream, whatever the host's byte order.
constexpr const char* kUtf16 = "UTF-16LE";

class Iconv {
  public:
    Iconv(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) ::iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

enum class Outcome { ok, invalidInput, noConverter };

// What to do with input that does not convert at `in`: how many bytes to skip and what to
// write in their place. Returns false to fail the conversion.
using Repair = bool (*)(const char* in, std::size_t left, void* context, std::size_t& skip,
                        std::string& replacement);

Outcome Convert(const std::string& to, const std::string& from, const char* in, std::size_t len,
                std::string& out, Repair repair, void* context) {
    Iconv cd(to.c_str(), from.c_str());
    if (!cd.ok()) return Outcome::noConverter;
    char chunk[512];
    auto* inp = const_cast<char*>(in);
    std::size_t inLeft = len;
    bool flushing = false;
    for (;;) {
        char* outp = chunk;
        std::size_t outLeft = sizeof chunk;
        const std::size_t r = flushing ? ::iconv(cd.get(), nullptr, nullptr, &outp, &outLeft)
                                       : ::iconv(cd.get(), &inp, &inLeft, &outp, &outLeft);
        const int err = errno;
        out.append(chunk, static_cast<std::size_t>(outp - chunk));
        if (r != static_cast<std::size_t>(-1)) {
            if (flushing) return Outcome::ok;
            flushing = true;  // all input taken: write any closing shift sequence
            continue;
        }
        if (err == E2BIG) continue;
        if (err != EILSEQ && err != EINVAL) return Outcome::invalidInput;
        std::size_t skip = 1;
        std::string replacement;
        if (!repair(inp, inLeft, context, skip, replacement)) return Outcome::invalidInput;
        skip = std::min(skip, inLeft);
        inp += skip;
        inLeft -= skip;
        ::iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        out += replacement;
    }
}

bool BadArgs(const void* in, int inCount, const void* out, int outCount) {
    if (in == nullptr || inCount == 0 || inCount < -1 || outCount < 0 ||
        (outCount > 0 && out == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return true;
    }
    return false;
}

struct WideRepairContext {
    bool utf8;
    bool strict;
    std::string defaultChar;
    bool usedDefault = false;
};

// Copies a conversion's result out with the Win32 size contract: capacity 0 asks for the
// size; a result that does not fit fails with ERROR_INSUFFICIENT_BUFFER.
template <typename Char>
int CopyOut(const std::basic_string<Char>& result, Char* out, int capacity) {
    if (result.size() > static_cast<std::size_t>(INT_MAX) ||
        (capacity != 0 && result.size() > static_cast<std::size_t>(capacity))) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (capacity != 0) std::memcpy(out, result.data(), result.size() * sizeof(Char));
    return static_cast<int>(result.size());
}

int Failed(Outcome outcome) {
    SetLastError(outcome == Outcome::invalidInput ? ERROR_NO_UNICODE_TRANSLATION
                                                  : ERROR_INVALID_PARAMETER);
    return 0;
}

// The iconv name of a code page (CP_ACP and its aliases give the locale's character set), or
// an empty string for a code page this platform does not know.
std::string CodePageCharset(UINT CodePage) {
    if (IsAnsi(CodePage)) return LocaleCharset();
    for (const CodePageName& c : kCodePages) {
        if (c.codePage == CodePage) return c.charset;
    }
    return {};
}

}  // namespace

UINT GetACP() {
    const char* codeset = ::nl_langinfo(CODESET);
    if (codeset == nullptr || *codeset == 0) return CP_UTF8;
    const std::string n = Normalised(codeset);
    for (const CharsetNumber& c : kCharsets) {
        if (n == c.name) return c.codePage;
    }
    return CP_ACP;
}

UINT GetOEMCP() {
    return GetACP();
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    if (BadArgs(lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar)) return 0;
    const std::string charset = CodePageCharset(CodePage);
    if (charset.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t len =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
    std::u16string wide;
    if (IsUtf8(charset)) {
        if (!talrec::kernel::AppendUtf16FromUtf8(lpMultiByteStr, len, strict, wide)) {
            return Failed(Outcome::invalidInput);
        }
        return CopyOut(wide, lpWideCharStr, cchWideChar);
    }
    Repair repair = [](const char*, std::size_t, void* context, std::size_t& skip,
                       std::string& replacement) {
        if (*static_cast<bool*>(context)) return false;
        skip = 1;
        replacement = "\xFD\xFF";  // U+FFFD
        return true;
    };
    std::string units;
    const Outcome outcome = Convert(kUtf16, charset, lpMultiByteStr, len, units, repair, &strict);
    if (outcome != Outcome::ok) return Failed(outcome);
    wide.resize(units.size() / 2);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        wide[i] = static_cast<char16_t>(static_cast<unsigned char>(units[2 * i]) |
                                        (static_cast<unsigned char>(units[2 * i + 1]) << 8));
    }
    return CopyOut(wide, lpWideCharStr, cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
    if (BadArgs(lpWideCharStr, cchWideChar, lpMultiByteStr, cbMultiByte)) return 0;
    const std::string charset = CodePageCharset(CodePage);
    WideRepairContext context{IsUtf8(charset), (dwFlags & WC_ERR_INVALID_CHARS) != 0,
                              lpDefaultChar != nullptr ? std::string(lpDefaultChar) : "?"};
    if (charset.empty() ||
        (context.utf8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t count = 0;
    if (cchWideChar == -1) {
        while (lpWideCharStr[count] != 0) ++count;
        ++count;
    } else {
        count = static_cast<std::size_t>(cchWideChar);
    }
    std::string out;
    if (context.utf8) {
        if (!talrec::kernel::AppendUtf8FromUtf16(lpWideCharStr, count, context.strict, out)) {
            return Failed(Outcome::invalidInput);
        }
        return CopyOut(out, lpMultiByteStr, cbMultiByte);
    }
    std::string bytes(2 * count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        bytes[2 * i] = static_cast<char>(lpWideCharStr[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(lpWideCharStr[i] >> 8);
    }
    // A character the code page cannot hold (a lone surrogate included: one unit, or a whole
    // pair) becomes the default character.
    Repair repair = [](const char* in, std::size_t left, void* ctx, std::size_t& skip,
                       std::string& replacement) {
        auto& c = *static_cast<WideRepairContext*>(ctx);
        auto unit = [&](std::size_t at) {
            return static_cast<unsigned>(static_cast<unsigned char>(in[at]) |
                                         (static_cast<unsigned char>(in[at + 1]) << 8));
        };
        const bool pair = left >= 4 && unit(0) >= 0xD800 && unit(0) < 0xDC00 && unit(2) >= 0xDC00 &&
                          unit(2) < 0xE000;
        skip = pair ? 4 : 2;
        replacement = c.defaultChar;
        c.usedDefault = true;
        return true;
    };
    const Outcome outcome =
        Convert(charset, kUtf16, bytes.data(), bytes.size(), out, repair, &context);
    if (outcome != Outcome::ok) return Failed(outcome);
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = context.usedDefault ? TRUE : FALSE;
    return CopyOut(out, lpMultiByteStr, cbMultiByte);
}
