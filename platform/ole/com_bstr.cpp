// Automation strings: [4-byte length in bytes][units][NUL unit], the pointer on the units.
#include <cstdlib>
#include <cstring>

#include "platform/oleauto.h"

namespace {

constexpr std::size_t kPrefix = sizeof(std::uint32_t);
// Lengths stay well inside the 32-bit prefix and inside size_t arithmetic.
constexpr UINT kMaxBytes = 0x7FFFFFF0u;

BSTR AllocBytes(const void* bytes, UINT length) {
    if (length > kMaxBytes) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + length + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    std::uint32_t prefix = length;
    std::memcpy(block, &prefix, kPrefix);
    if (bytes != nullptr) {
        std::memcpy(block + kPrefix, bytes, length);
    } else {
        std::memset(block + kPrefix, 0, length);
    }
    // Two NUL bytes after the data, so that an odd byte length is terminated too.
    block[kPrefix + length] = 0;
    block[kPrefix + length + 1] = 0;
    return reinterpret_cast<BSTR>(block + kPrefix);
}

UINT UnitCount(const OLECHAR* text) {
    UINT n = 0;
    while (text[n] != 0) ++n;
    return n;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    return SysAllocStringLen(text, UnitCount(text));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    if (length > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return AllocBytes(text, length * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(const char* bytes, UINT length) {
    return AllocBytes(bytes, length);
}

BOOL SysReAllocString(BSTR* target, const OLECHAR* text) {
    if (target == nullptr) return FALSE;
    return SysReAllocStringLen(target, text, text != nullptr ? UnitCount(text) : 0);
}

BOOL SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
    if (target == nullptr) return FALSE;
    // Copy first: text may point into *target.
    BSTR fresh = SysAllocStringLen(text, length);
    if (fresh == nullptr) return FALSE;
    SysFreeString(*target);
    *target = fresh;
    return TRUE;
}

void SysFreeString(BSTR text) {
    if (text != nullptr) std::free(reinterpret_cast<unsigned char*>(text) - kPrefix);
}

UINT SysStringByteLen(BSTR text) {
    if (text == nullptr) return 0;
    std::uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<unsigned char*>(text) - kPrefix, kPrefix);
    return prefix;
}

UINT SysStringLen(BSTR text) {
    return SysStringByteLen(text) / static_cast<UINT>(sizeof(OLECHAR));
}
