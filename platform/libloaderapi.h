// Loading libraries at run time (LoadLibraryA, GetProcAddress, FreeLibrary, GetModuleFileNameA)
// and the system directory (GetSystemDirectoryA), over dlopen/dlsym/dladdr.
//
// - LoadLibraryA loads with RTLD_NOW | RTLD_LOCAL: every symbol is bound at load, and nothing
//   the library exports is visible to libraries loaded later. A name with a "/" is that file;
//   callers in this system always pass a full path. Failure: null, last error
//   ERROR_MOD_NOT_FOUND.
// - GetProcAddress: null and ERROR_PROC_NOT_FOUND when the export is missing.
// - GetSystemDirectoryA: the folder where the system's components (the audio-writer library
//   "wmaudsdk.so") are installed. It is TALREC_SYSTEM_DIR when that is set and not empty;
//   otherwise the folder of the shared library that holds this code, or, when this code is
//   linked into the program itself (build/bin/talrec), the "lib" folder beside the program's
//   folder (build/lib). No trailing "/". Returns the length copied without the terminator; when
//   the buffer is too small, the size needed with the terminator and nothing copied; 0 on failure.
// These calls may be made from any thread.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include <cstdint>

#include "platform/windef.h"

struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using FARPROC = std::intptr_t (*)();

HMODULE LoadLibraryA(LPCSTR lpLibFileName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);
// The full path of a loaded library, or of the program for a null module. Returns the length
// copied; a path that does not fit is cut to nSize - 1 characters, and
// ERROR_INSUFFICIENT_BUFFER is set.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);

inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_PIN = 0x1;
inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;
inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;

// The loaded module that holds an address (with GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS; a
// module name is not looked up otherwise). Without UNCHANGED_REFCOUNT the module gains a
// reference that FreeLibrary drops. FALSE with ERROR_MOD_NOT_FOUND when no module holds it.
BOOL GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule);

#endif  // _WIN32
