// The component's one export.
#include <new>
#include <string>

#include "AudioWriter.h"

namespace {

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(const char16_t* s) {
    std::string out;
    for (; *s != 0; ++s) {
        char32_t c = *s;
        if (c >= 0xD800 && c <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(s[1]) - 0xDC00);
            ++s;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT WMAudioCreateWriter(
    const char16_t* fileName, IWMAudioWriter** writer) {
    if (writer == nullptr) return E_POINTER;
    *writer = nullptr;
    if (fileName == nullptr || fileName[0] == 0) return E_INVALIDARG;
    auto* created = new (std::nothrow) CAudioWriter();
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = created->Create(Utf8FromUtf16(fileName));
    if (hr < 0) {
        created->Release();
        return hr;
    }
    *writer = created;
    return S_OK;
}

// The type of the export must stay the one callers look up.
static_assert(std::is_same_v<decltype(&WMAudioCreateWriter), PFN_WMAudioCreateWriter>);
