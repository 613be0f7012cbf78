// The real Windows SDK (mingw-w64's headers) that platform/'s public headers give on Windows:
// every header there includes this one instead of its Linux declarations. One set for all,
// so that every translation unit sees windows.h first (the A/W macros such as GetClassInfo
// must be the same everywhere) and the set can be one precompiled header.
// WIN32_LEAN_AND_MEAN and NOMINMAX are defined for every Windows target by the build.
#pragma once

#include <windows.h>
// (windows.h comes first: the other SDK headers rely on it.)
#include <comcat.h>
#include <mbstring.h>
#include <mmsystem.h>
#include <objsafe.h>
#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#include <shellapi.h>
#include <shlobj.h>
