// The identities of the test module's class, library and interface.
#pragma once

#include "platform/windef.h"

inline constexpr CLSID kClsidAdder = {0x6A1D0001, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 1}};
inline constexpr GUID kLibidAdder = {0x6A1D0002, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 2}};
inline constexpr IID kDiidAdder = {0x6A1D0003, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 3}};
inline constexpr LONG kDispidAdd = 1;
inline constexpr LONG kDispidTotal = 2;
