#include "host/common/TerminalText.h"

#include <cstdint>
#include <cstdio>

namespace talrec::host {
namespace {

// Characters a terminal shows as nothing, or that move or reorder what follows them.
bool IsHidden(char32_t c) {
    return (c >= 0x80 && c <= 0x9F) ||      // C1 controls
           c == 0xAD ||                     // soft hyphen
           c == 0x061C ||                   // Arabic letter mark
           c == 0x180E ||                   // Mongolian vowel separator
           (c >= 0x200B && c <= 0x200F) ||  // zero-width characters, direction marks
           (c >= 0x2028 && c <= 0x202E) ||  // line and paragraph separators, embeddings
           (c >= 0x2060 && c <= 0x206F) ||  // word joiner, invisible operators, isolates
           c == 0xFEFF ||                   // zero-width no-break space
           (c >= 0xFFF9 && c <= 0xFFFB) ||  // interlinear annotation
           (c >= 0xE0000 && c <= 0xE007F);  // tag characters
}

// The length of the valid UTF-8 sequence at `text[at]` (2 to 4) with its code point, or 0.
int Sequence(std::string_view text, std::size_t at, char32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    int length = 0;
    std::uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (at + static_cast<std::size_t>(length) > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    code = lead & (0xFF >> (length + 1));
    for (int i = 1; i < length; ++i) {
        const std::uint8_t next = byte(at + static_cast<std::size_t>(i));
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    return length;
}

void Append(std::string& out, const char* format, unsigned value) {
    char escape[16];
    std::snprintf(escape, sizeof escape, format, value);
    out += escape;
}

}  // namespace

std::string TerminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<std::uint8_t>(text[at]);
        if (byte >= 0x20 && byte < 0x7F) {
            if (byte == '\\') out += '\\';
            out += static_cast<char>(byte);
            ++at;
            continue;
        }
        if (byte < 0x80) {
            if (byte == '\t') {
                out += "\\t";
            } else if (byte == '\n') {
                out += "\\n";
            } else if (byte == '\r') {
                out += "\\r";
            } else {
                Append(out, "\\x%02x", byte);
            }
            ++at;
            continue;
        }
        char32_t code = 0;
        const int length = Sequence(text, at, code);
        if (length == 0) {
            Append(out, "\\x%02x", byte);
            ++at;
        } else if (IsHidden(code)) {
            Append(out, code > 0xFFFF ? "\\U%08x" : "\\u%04x", static_cast<unsigned>(code));
            at += static_cast<std::size_t>(length);
        } else {
            out.append(text.substr(at, static_cast<std::size_t>(length)));
            at += static_cast<std::size_t>(length);
        }
    }
    return out;
}

}  // namespace talrec::host
