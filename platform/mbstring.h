// Multibyte-aware string scans in the ANSI code page, and the platform's path separator.
//
// The scans step through the string character by character with mbrlen in the calling
// thread's locale (LC_CTYPE), so a byte that is the trailing byte of a multibyte character is
// never taken for the character searched. A byte that does not start a valid character in the
// locale is taken as a character of its own.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"

// The extensions the Linux branch carries too: the path separator, and the last occurrence
// of a single-byte character (multibyte-aware, over the runtime's _mbsrchr).
inline constexpr char PATH_SEPARATOR = '\\';
inline constexpr char PATH_SEPARATOR_STRING[] = "\\";
inline const char* AfxStrRChrMB(const char* str, char c) {
    return reinterpret_cast<const char*>(
        _mbsrchr(reinterpret_cast<const unsigned char*>(str), static_cast<unsigned char>(c)));
}
#else
#include "platform/windef.h"

// The separator between path components. The control's code uses it wherever a path is
// joined or split.
inline constexpr char PATH_SEPARATOR = '/';
inline constexpr char PATH_SEPARATOR_STRING[] = "/";

// The last occurrence of the single-byte character c in the zero-terminated string, or null.
// c = 0 finds the terminating zero.
unsigned char* _mbsrchr(const unsigned char* str, unsigned int c);
// Same for plain char strings.
const char* AfxStrRChrMB(const char* str, char c);

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
