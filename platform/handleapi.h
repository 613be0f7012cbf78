// Closing the kernel's handles, with the Win32 name.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/windef.h"

// Closes a file handle from CreateFileA. A handle that is not open (closed already, never
// opened, or one of another kind such as a find handle) gives ERROR_INVALID_HANDLE.
BOOL CloseHandle(HANDLE hObject);

#endif  // _WIN32
