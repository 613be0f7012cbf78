#include "platform/mbstring.h"

#include <climits>
#include <cstring>
#include <cwchar>

const char* CharNextA(const char* s) {
    if (s == nullptr || *s == '\0') return s;
    std::mbstate_t state{};
    std::size_t n = std::mbrlen(s, MB_LEN_MAX, &state);
    // An invalid or incomplete sequence counts as one byte, as the code page's lead-byte
    // table would count a byte that leads nothing.
    if (n == 0 || n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) n = 1;
    return s + n;
}

const char* _mbsstr(const char* s, const char* needle) {
    if (s == nullptr || needle == nullptr) return nullptr;
    std::size_t length = std::strlen(needle);
    for (const char* p = s;; p = CharNextA(p)) {
        if (std::strncmp(p, needle, length) == 0) return p;
        if (*p == '\0') return nullptr;
    }
}
