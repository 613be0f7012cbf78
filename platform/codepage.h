// The code page service: the system ANSI code page and conversion between it (or any other
// code page) and UTF-16, with the Win32 contracts of MultiByteToWideChar and
// WideCharToMultiByte. Built over iconv.
//
// The ANSI code page is the character set of the calling thread's LC_CTYPE locale
// (nl_langinfo(CODESET)). A process that never called setlocale is in the "C" locale,
// whose character set is plain ASCII; that locale counts as UTF-8, since ASCII is a subset of
// UTF-8 and UTF-8 is the system's default. The service never changes the process locale: a
// host that wants the user's locale calls setlocale(LC_ALL, "") at start.
//
// All functions may be called from any thread; they share no state.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/windef.h"

// UTF-16 code units, 16 bits wide as on Windows.
using WCHAR = char16_t;
using OLECHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPCCH = const char*;
using LPCWCH = const WCHAR*;
using LPBOOL = BOOL*;

inline constexpr UINT CP_ACP = 0;         // the ANSI code page
inline constexpr UINT CP_OEMCP = 1;       // the same here
inline constexpr UINT CP_THREAD_ACP = 3;  // the same here
inline constexpr UINT CP_UTF8 = 65001;

inline constexpr DWORD MB_PRECOMPOSED = 0x00000001;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;
inline constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x00000400;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x00000080;

// The Windows number of the ANSI code page (65001 for UTF-8, 936 for GBK, 932 for Shift-JIS,
// 1252, 28591 for ISO-8859-1 ...). A character set that has no Windows number gives CP_ACP,
// which, given back to the conversions, still means that character set.
UINT GetACP();
// There is no separate OEM code page: the same as GetACP.
UINT GetOEMCP();

// Converts cbMultiByte bytes (-1: up to and including the terminating zero) to UTF-16.
// cchWideChar 0: returns the number of UTF-16 units needed and writes nothing. Otherwise
// returns the number written, or 0 with GetLastError() ERROR_INSUFFICIENT_BUFFER when they do
// not fit. Invalid input fails with ERROR_NO_UNICODE_TRANSLATION under MB_ERR_INVALID_CHARS
// and becomes U+FFFD without it. Bad arguments or an unknown code page: 0 with
// ERROR_INVALID_PARAMETER.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);

// Converts cchWideChar UTF-16 units (-1: up to and including the terminating zero) to the code
// page. cbMultiByte 0: returns the bytes needed. Does-not-fit and bad arguments as above. A
// character the code page cannot hold becomes lpDefaultChar (default "?") and sets
// *lpUsedDefaultChar; for CP_UTF8 both must be null, an unpaired surrogate becomes U+FFFD, and
// under WC_ERR_INVALID_CHARS it fails with ERROR_NO_UNICODE_TRANSLATION instead.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);

#endif  // _WIN32
