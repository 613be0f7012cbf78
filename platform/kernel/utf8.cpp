#include "platform/kernel/utf8.h"

namespace talrec::kernel {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t cp) {
    return cp >= 0xD800 && cp <= 0xDFFF;
}

// The code point of the well-formed sequence at in[0], and its length; 0 when there is none.
std::size_t Decode(const unsigned char* in, std::size_t left, char32_t& cp) {
    const unsigned char lead = in[0];
    std::size_t extra = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        cp = lead & 0x1F;
        extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
        cp = lead & 0x0F;
        extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
        cp = lead & 0x07;
        extra = 3;
    } else {
        return 0;
    }
    if (extra >= left) return 0;  // cut short
    for (std::size_t k = 1; k <= extra; ++k) {
        if ((in[k] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (in[k] & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[extra] || cp > 0x10FFFF || IsSurrogate(cp)) return 0;
    return extra + 1;
}

void Encode(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

bool AppendUtf16FromUtf8(const char* in, std::size_t length, bool strict, std::u16string& out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(in);
    std::size_t i = 0;
    while (i < length) {
        char32_t cp = 0;
        const std::size_t used = Decode(bytes + i, length - i, cp);
        if (used == 0) {
            if (strict) return false;
            out += kReplacement;
            ++i;
            continue;
        }
        i += used;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return true;
}

bool AppendUtf8FromUtf16(const char16_t* in, std::size_t length, bool strict, std::string& out) {
    for (std::size_t i = 0; i < length; ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && in[i + 1] >= 0xDC00 &&
            in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (IsSurrogate(cp)) {
            if (strict) return false;
            cp = kReplacement;
        }
        Encode(cp, out);
    }
    return true;
}

}  // namespace talrec::kernel
