// Text helpers of the test container: UTF-8 for its own input and output, UTF-16 for COM.
#pragma once

#include <windows.h>
// (windows.h comes first: the other SDK headers rely on it.)
#include <oleauto.h>

#include <string>

std::wstring Widen(const std::string& utf8);
std::string Narrow(const wchar_t* text);
inline std::string Narrow(const std::wstring& text) {
    return Narrow(text.c_str());
}

// A value as the scenario compares it: integers in decimal, booleans "true"/"false", strings
// as they are, empty for VT_EMPTY; anything else through VariantChangeType to a string.
std::string VariantText(const VARIANT& value);

// "0x80020006" for an HRESULT.
std::string HresultText(HRESULT hr);

// Prints one line on standard output and flushes it, so that a log that stops in the middle
// still shows the last step.
void Say(const std::string& line);
