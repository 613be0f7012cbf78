// Identifiers in their text form.
#include "platform/objbase.h"
#include "platform/ole/com_text.h"

int StringFromGUID2(REFGUID guid, LPOLESTR text, int maxUnits) {
    std::string ascii = talrec::com::GuidText(guid);
    int needed = static_cast<int>(ascii.size()) + 1;
    if (text == nullptr || maxUnits < needed) return 0;
    for (std::size_t i = 0; i < ascii.size(); ++i) text[i] = static_cast<OLECHAR>(ascii[i]);
    text[ascii.size()] = 0;
    return needed;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
    if (iid == nullptr) return E_INVALIDARG;
    if (text == nullptr) {
        *iid = GUID_NULL;
        return S_OK;
    }
    return talrec::com::ParseGuid(text, *iid) ? S_OK : E_INVALIDARG;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (clsid == nullptr) return E_INVALIDARG;
    if (text == nullptr) {
        *clsid = GUID_NULL;
        return S_OK;
    }
    if (text[0] == u'{') {
        if (talrec::com::ParseGuid(text, *clsid)) return S_OK;
        *clsid = GUID_NULL;
        return CO_E_CLASSSTRING;
    }
    HRESULT hr = CLSIDFromProgID(text, clsid);
    return SUCCEEDED(hr) ? hr : CO_E_CLASSSTRING;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
    if (text == nullptr) return E_INVALIDARG;
    *text = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
    if (*text == nullptr) return E_OUTOFMEMORY;
    StringFromGUID2(clsid, *text, 39);
    return S_OK;
}

HRESULT StringFromIID(REFIID iid, LPOLESTR* text) {
    return StringFromCLSID(iid, text);
}
