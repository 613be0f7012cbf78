// The names and meanings of the platform's result codes, for messages to people
// ("0x80040200 SELFREG_E_TYPELIB: the type library could not be registered").
// Both targets have it: one table (platform/ole/com_error.cpp), compiled against the real SDK's
// values on Windows.
#pragma once

#include "platform/windef.h"

// Where two published codes share a value (CONNECT_E_NOCONNECTION is SELFREG_E_TYPELIB's
// value, CONNECT_E_ADVISELIMIT SELFREG_E_CLASS's), the registration name is given. A Win32 error
// in HRESULT form (facility 7) not listed itself is described by its Win32 entry.
// False, leaving the outputs alone, for a code the platform does not know.
bool DescribeHResult(HRESULT hr, const char** name, const char** text);
bool DescribeWin32Error(DWORD code, const char** name, const char** text);
