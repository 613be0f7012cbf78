// Process and thread identity, with the Windows names.
#pragma once

#include "platform/windef.h"

// The calling process's identifier, as the system's process list shows it.
DWORD GetCurrentProcessId();
