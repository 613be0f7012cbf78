// The one UTF-8 / UTF-16 codec of the platform, behind MultiByteToWideChar and
// WideCharToMultiByte for CP_UTF8 (and for the ANSI code page when the locale is UTF-8).
#pragma once

#include <cstddef>
#include <string>

namespace talrec::kernel {

// Appends the UTF-16 form of `length` bytes of UTF-8. A byte that does not begin a
// well-formed sequence (a stray continuation byte, a sequence cut short, an overlong form, an
// encoded surrogate, a value beyond U+10FFFF) becomes one U+FFFD and the next byte is looked
// at anew; with `strict` the conversion fails there instead (false).
bool AppendUtf16FromUtf8(const char* in, std::size_t length, bool strict, std::u16string& out);

// Appends the UTF-8 form of `length` UTF-16 units. An unpaired surrogate becomes U+FFFD; with
// `strict` the conversion fails there instead (false).
bool AppendUtf8FromUtf16(const char16_t* in, std::size_t length, bool strict, std::string& out);

}  // namespace talrec::kernel
