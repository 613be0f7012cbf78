// Paths as the framework splits and joins them: the system's separator, and the search for it
// that never takes the trailing byte of a multibyte character for it.
#pragma once

#include <filesystem>

#include "platform/mbstring.h"

// The separator between a path's components on the system the control runs on ('\\' on
// Windows, '/' elsewhere): the file calls take and give the system's own paths. The control's
// code uses it wherever a path is joined or split.
inline constexpr char PATH_SEPARATOR =
    static_cast<char>(std::filesystem::path::preferred_separator);
inline constexpr char PATH_SEPARATOR_STRING[] = {PATH_SEPARATOR, '\0'};

// The last occurrence of the single-byte character c in the zero-terminated string, or null,
// scanning character by character in the ANSI code page (_mbsrchr).
inline const char* AfxStrRChrMB(const char* str, char c) {
    return reinterpret_cast<const char*>(
        _mbsrchr(reinterpret_cast<const unsigned char*>(str), static_cast<unsigned char>(c)));
}
