// Shell folders. On Linux the application-data folder (CSIDL_APPDATA) is the XDG data folder:
// $XDG_DATA_HOME when it is set to an absolute path, else ~/.local/share.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/windef.h"

inline constexpr int CSIDL_APPDATA = 0x001a;

// Writes the folder, without a trailing separator, into a buffer of MAX_PATH bytes.
// FALSE (buffer untouched) for an unknown folder id or a path that does not fit. With
// fCreate the folder is created (with its parents) when missing.
BOOL SHGetSpecialFolderPathA(HWND hwndOwner, LPSTR lpszPath, int csidl, BOOL fCreate);

#endif  // _WIN32
