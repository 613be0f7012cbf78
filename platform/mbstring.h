// Multibyte-aware string scans in the system ANSI code page (the process locale's character
// set). A byte that is the trailing byte of a multibyte character is never matched on its own.
#pragma once

#include <cstddef>

// The next character of a string (the terminator stays put), as Win32 CharNextA.
const char* CharNextA(const char* s);

// First occurrence of `needle` in `s` that starts on a character boundary, or null.
const char* _mbsstr(const char* s, const char* needle);
