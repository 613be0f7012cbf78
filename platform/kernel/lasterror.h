// The platform's side of the last error: how a failed POSIX call becomes the Win32 error code
// that GetLastError reports. For the platform's modules only.
#pragma once

#include "platform/windef.h"

// Maps an errno value to the Win32 error code that the same failure gives on Windows.
DWORD Win32ErrorFromErrno(int err);
