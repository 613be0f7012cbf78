// Multibyte-aware string scans in the ANSI code page.
//
// The scans step through the string character by character with mbrlen in the calling
// thread's locale (LC_CTYPE), so a byte that is the trailing byte of a multibyte character is
// never taken for the character searched. A byte that does not start a valid character in the
// locale is taken as a character of its own.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/windef.h"

// The last occurrence of the single-byte character c in the zero-terminated string, or null.
// c = 0 finds the terminating zero.
unsigned char* _mbsrchr(const unsigned char* str, unsigned int c);

// The next character of a string (the terminator stays put), as Win32 CharNextA.
const char* CharNextA(const char* s);

// First occurrence of `needle` in `s` that starts on a character boundary, or null.
const char* _mbsstr(const char* s, const char* needle);
// The same in the published form, on unsigned char strings.
inline unsigned char* _mbsstr(const unsigned char* s, const unsigned char* needle) {
    return reinterpret_cast<unsigned char*>(const_cast<char*>(
        _mbsstr(reinterpret_cast<const char*>(s), reinterpret_cast<const char*>(needle))));
}

#endif  // _WIN32
