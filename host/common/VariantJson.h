// Arguments and results between JSON (UTF-8) and automation (VARIANT, UTF-16 strings).
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/oaidl.h"

namespace talrec::host {

// A JSON value as an argument: a string as VT_BSTR, an integer that fits as VT_I4 (else
// VT_R8), a number as VT_R8, a boolean as VT_BOOL, null as VT_EMPTY (which automation
// takes as the empty string or 0). Arrays and objects have no argument form: nullopt.
std::optional<VARIANT> JsonToVariant(const nlohmann::json& value);

// A result as JSON: numbers, strings (UTF-8), booleans; VT_EMPTY and VT_NULL as null.
nlohmann::json VariantToJson(const VARIANT& value);

// A string of automation characters (char16_t here, wchar_t in the Windows SDK).
using OleString = std::basic_string<OLECHAR>;

std::string WideToUtf8(const OLECHAR* text, std::size_t length);
OleString Utf8ToWide(const std::string& text);

}  // namespace talrec::host
