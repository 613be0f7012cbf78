// UTF-8 and UTF-16 conversions inside the component model: the registry and module paths are
// UTF-8, automation strings UTF-16. Malformed input is replaced by U+FFFD, never refused; each
// byte that begins no well-formed sequence, and each unpaired surrogate, gives one U+FFFD.
// Texts longer than INT_MAX give "", as the platform's conversions take no more.
#pragma once

#include <string>
#include <string_view>

#include "platform/oleauto.h"

namespace talrec::com {

std::u16string Utf16FromUtf8(std::string_view text);
std::string Utf8FromUtf16(std::u16string_view text);
// A NUL-terminated OLECHAR string (null gives "") in UTF-8.
std::string Utf8FromOle(LPCOLESTR text);
// A new BSTR holding text; null when out of memory.
BSTR BstrFromUtf8(std::string_view text);
// ASCII letters folded, for comparing names as automation does.
bool EqualNoCase(std::u16string_view a, std::u16string_view b);

// The braced upper-case text form of a GUID, and its parser (false when not in that form).
std::string GuidText(REFGUID guid);
bool ParseGuid(std::u16string_view text, GUID& guid);

}  // namespace talrec::com
