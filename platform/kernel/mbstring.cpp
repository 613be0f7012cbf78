#include "platform/mbstring.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

unsigned char* _mbsrchr(const unsigned char* str, unsigned int c) {
    const unsigned char* found = nullptr;
    std::mbstate_t state{};
    const unsigned char* p = str;
    const unsigned char* const end = str + std::strlen(reinterpret_cast<const char*>(str));
    for (;;) {
        if (*p == c) found = p;
        if (*p == 0) break;
        // Never let mbrlen look past the terminating zero.
        const std::size_t room = std::min<std::size_t>(MB_CUR_MAX, end - p);
        const std::size_t len = std::mbrlen(reinterpret_cast<const char*>(p), room, &state);
        if (len == static_cast<std::size_t>(-1) || len == static_cast<std::size_t>(-2) ||
            len == 0) {
            // Not a valid (or a cut-off) character here: take the byte on its own.
            state = std::mbstate_t{};
            ++p;
        } else {
            p += len;
        }
    }
    return const_cast<unsigned char*>(found);
}

const char* CharNextA(const char* s) {
    if (s == nullptr || *s == '\0') return s;
    std::mbstate_t state{};
    const std::size_t room = std::min<std::size_t>(MB_CUR_MAX, std::strlen(s));
    std::size_t n = std::mbrlen(s, room, &state);
    if (n == 0 || n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) n = 1;
    return s + n;
}

const char* _mbsstr(const char* s, const char* needle) {
    if (s == nullptr || needle == nullptr) return nullptr;
    const std::size_t length = std::strlen(needle);
    for (const char* p = s;; p = CharNextA(p)) {
        if (std::strncmp(p, needle, length) == 0) return p;
        if (*p == '\0') return nullptr;
    }
}
