// Multibyte-aware string scans in the ANSI code page, and the platform's path separator.
//
// The scans step through the string character by character with mbrlen in the calling
// thread's locale (LC_CTYPE), so a byte that is the trailing byte of a multibyte character is
// never taken for the character searched. A byte that does not start a valid character in the
// locale is taken as a character of its own.
#pragma once

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
