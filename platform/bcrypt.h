// The system's random numbers for secrets (tokens, codes, tickets), with the Windows name: on
// Linux over getrandom (platform/kernel/bcrypt.cpp).
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
// (after windows.h, which it needs)
#include <bcrypt.h>
#else
#include "platform/windef.h"

using NTSTATUS = LONG;
using BCRYPT_ALG_HANDLE = void*;
inline constexpr ULONG BCRYPT_USE_SYSTEM_PREFERRED_RNG = 0x00000002;
#ifndef STATUS_SUCCESS
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#endif
#define BCRYPT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)

// Fills `buffer` with `size` bytes from the system's generator; only the system-preferred one
// (no algorithm handle, BCRYPT_USE_SYSTEM_PREFERRED_RNG). A negative status when it cannot.
NTSTATUS BCryptGenRandom(BCRYPT_ALG_HANDLE algorithm, unsigned char* buffer, ULONG size,
                         ULONG flags);

#endif  // _WIN32
