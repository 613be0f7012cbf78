// The shell's "open" of a file or address in the program the user chose for it. On Linux that
// is xdg-open's choice (the user's browser for an http address). Any thread.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/libloaderapi.h"
#include "platform/windef.h"
#include "platform/winuser.h"

// Only the "open" verb (or none, which is "open") of `lpFile`, without parameters. Returns at
// once, without waiting for the program: a value above 32 when it was started, otherwise
// SE_ERR_NOASSOC for another verb or parameters, ERROR_FILE_NOT_FOUND when no opener can be
// run (xdg-open is missing), SE_ERR_OOM when no process could be made. `hwnd`, `lpDirectory`
// and `nShowCmd` are not used.
HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                        LPCSTR lpDirectory, INT nShowCmd);

inline constexpr int SE_ERR_OOM = 8;
inline constexpr int SE_ERR_NOASSOC = 31;

#endif  // _WIN32
