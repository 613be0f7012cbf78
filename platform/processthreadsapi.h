// Process and thread identity, with the Windows names.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/windef.h"

// The calling process's identifier, as the system's process list shows it.
DWORD GetCurrentProcessId();

#endif  // _WIN32
