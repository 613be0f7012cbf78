// Conversions between the ANSI code page's strings, inside the control, and the UTF-16 of
// automation strings, outside it.
#pragma once

#include <string>
#include <string_view>

#include "platform/oaidl.h"

// Strings of OLECHAR: UTF-16 on both targets (wchar_t on Windows, char16_t on Linux).
using OleString = std::basic_string<OLECHAR>;
using OleStringView = std::basic_string_view<OLECHAR>;

// Characters that do not convert become the code page's replacement; nothing fails.
OleString AfxAnsiToWide(std::string_view ansi);
std::string AfxWideToAnsi(OleStringView wide);
// The automation string's text (a null BSTR is the empty string).
std::string AfxBstrToAnsi(BSTR text);
// A newly allocated automation string; the empty string gives an empty BSTR, never null.
// Null when the allocation fails.
BSTR AfxAllocBstr(std::string_view ansi);
// A copy in task memory (CoTaskMemFree), for interfaces that hand strings out that way.
// Null when the allocation fails.
LPOLESTR AfxAllocTaskString(std::string_view ansi);
