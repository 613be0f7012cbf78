// The component's one export.
#include <new>
#include <string>
#include <type_traits>

#include "AudioWriter.h"
#include "System.h"

// Exported by name (wmaudsdk.def on Windows, default visibility elsewhere).
STDAPI WMAudioCreateWriter(LPCWSTR fileName, IWMAudioWriter** writer) {
    if (writer == nullptr) return E_POINTER;
    *writer = nullptr;
    if (fileName == nullptr || fileName[0] == 0) return E_INVALIDARG;
    auto* created = new (std::nothrow) CAudioWriter();
    if (created == nullptr) return E_OUTOFMEMORY;
    std::string name;
    if (!FileSystemName(fileName, name)) {
        created->Release();
        return static_cast<HRESULT>(0x80070000u | ERROR_NO_UNICODE_TRANSLATION);
    }
    const HRESULT hr = created->Create(name);
    if (hr < 0) {
        created->Release();
        return hr;
    }
    *writer = created;
    return S_OK;
}

// The type of the export must stay the one callers look up.
static_assert(std::is_same_v<decltype(&WMAudioCreateWriter), PFN_WMAudioCreateWriter>);
