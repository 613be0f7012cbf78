// ProgIDs: the registry's names for classes.
#include <cstring>

#include "platform/objbase.h"
#include "platform/ole/com_text.h"
#include "platform/registry/registry_util.h"

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
    if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
    *clsid = GUID_NULL;
    std::string name = talrec::com::Utf8FromOle(progId);
    std::string text;
    if (name.empty() || name.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
    LSTATUS rc = talrec::registry::ReadString(name + "\\CLSID", "", text);
    if (rc == ERROR_FILE_NOT_FOUND) return CO_E_CLASSSTRING;
    if (rc != ERROR_SUCCESS) return REGDB_E_READREGDB;
    return talrec::com::ParseGuid(talrec::com::Utf16FromUtf8(text), *clsid) ? S_OK
                                                                            : CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
    if (progId == nullptr) return E_INVALIDARG;
    *progId = nullptr;
    std::string text;
    LSTATUS rc = talrec::registry::ReadString("CLSID\\" + talrec::com::GuidText(clsid) + "\\ProgID",
                                              "", text);
    if (rc == ERROR_FILE_NOT_FOUND) return REGDB_E_CLASSNOTREG;
    if (rc != ERROR_SUCCESS) return REGDB_E_READREGDB;
    std::u16string wide = talrec::com::Utf16FromUtf8(text);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (out == nullptr) return E_OUTOFMEMORY;
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
    *progId = out;
    return S_OK;
}
