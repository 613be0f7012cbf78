// Task memory and the per-thread initialisation count.
#include <cstdlib>

#include "platform/objbase.h"

namespace {
thread_local unsigned t_initCount = 0;
}

void* CoTaskMemAlloc(std::size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}
void* CoTaskMemRealloc(void* block, std::size_t size) {
    return std::realloc(block, size == 0 ? 1 : size);
}
void CoTaskMemFree(void* block) {
    std::free(block);
}

HRESULT CoInitializeEx(void* reserved, DWORD) {
    if (reserved != nullptr) return E_INVALIDARG;
    return t_initCount++ == 0 ? S_OK : S_FALSE;
}
HRESULT CoInitialize(void* reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}
void CoUninitialize() {
    if (t_initCount > 0) --t_initCount;
}
