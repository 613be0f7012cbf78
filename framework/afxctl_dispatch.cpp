// COleControl's IDispatch: name lookup, argument checks and conversion, and the framework's
// exceptions turned into automation errors. On the control's thread.
//
// Script hosts call a method with DISPATCH_METHOD | DISPATCH_PROPERTYGET and pass what they
// have: JScript integers as VT_I4 and other numbers as VT_R8, VBScript variables by
// reference (VT_BYREF | VT_VARIANT) and small literals as VT_I2. So every argument is coerced
// to the table's type with VariantChangeType, which also follows references.
#include <cctype>
#include <new>
#include <vector>

#include "framework/afx.h"
#include "framework/afxconv.h"
#include "framework/afxctl.h"
#include "platform/oleauto.h"
#include "platform/wrl/client.h"

namespace {

bool SameIgnoringCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

void FillException(EXCEPINFO* info, const char* source, const char* description, SCODE scode) {
    if (info == nullptr) return;
    *info = EXCEPINFO{};
    info->bstrSource = AfxAllocBstr(source);
    info->bstrDescription = AfxAllocBstr(description);
    info->scode = scode;
}

}  // namespace

HRESULT COleControl::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

// The registered library for the caller's locale, else for the library's own: Windows keeps a
// registration under the library's locale only and finds no other locale's there.
HRESULT COleControl::LoadTypeInfo(LCID lcid, REFGUID guid, ITypeInfo** info) const {
    Microsoft::WRL::ComPtr<ITypeLib> lib;
    HRESULT hr = LoadRegTypeLib(identity_.libid, identity_.libMajor, identity_.libMinor, lcid,
                                lib.GetAddressOf());
    if (FAILED(hr) && lcid != identity_.libLocale) {
        hr = LoadRegTypeLib(identity_.libid, identity_.libMajor, identity_.libMinor,
                            identity_.libLocale, lib.ReleaseAndGetAddressOf());
    }
    if (FAILED(hr)) return hr;
    return lib->GetTypeInfoOfGuid(guid, info);
}

HRESULT COleControl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return LoadTypeInfo(lcid, identity_.dispatchIid, info);
}

const AFX_DISPMAP_ENTRY* COleControl::FindEntry(DISPID id) const {
    for (const AFX_DISPMAP_ENTRY& entry : GetDispatchMap()) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}

// The control's own table: names without regard to case, an exact-case match first.
// Parameter names are not known to the table.
HRESULT COleControl::NamesFromTable(LPOLESTR* names, UINT count, DISPID* ids) const {
    std::string name =
        AfxWideToAnsi(names[0] != nullptr ? OleStringView(names[0]) : OleStringView());
    const AFX_DISPMAP_ENTRY* found = nullptr;
    for (const AFX_DISPMAP_ENTRY& entry : GetDispatchMap()) {
        if (name == entry.name) {
            found = &entry;
            break;
        }
        if (found == nullptr && SameIgnoringCase(name, entry.name)) found = &entry;
    }
    ids[0] = found != nullptr ? found->id : DISPID_UNKNOWN;
    for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return found != nullptr && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT COleControl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                   DISPID* ids) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (names == nullptr || ids == nullptr) return E_POINTER;
    if (count == 0) return E_INVALIDARG;
    // With a locale the registered type library answers (its names are the published ones);
    // with none, or when the library is not registered, the control's own table does.
    if (lcid != 0) {
        Microsoft::WRL::ComPtr<ITypeInfo> info;
        if (SUCCEEDED(LoadTypeInfo(lcid, identity_.dispatchIid, info.GetAddressOf()))) {
            return info->GetIDsOfNames(names, count, ids);
        }
    }
    return NamesFromTable(names, count, ids);
}

HRESULT COleControl::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (params == nullptr) params = &none;
    const AFX_DISPMAP_ENTRY* entry = FindEntry(id);
    if (entry == nullptr) return DISP_E_MEMBERNOTFOUND;

    UINT expected = entry->paramCount;
    const VARTYPE* types = entry->params;
    VARTYPE putType = entry->result;
    if (entry->property) {
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            if (params->cNamedArgs != 1 || params->rgdispidNamedArgs == nullptr ||
                params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
                return params->cArgs != 1 ? DISP_E_BADPARAMCOUNT : DISP_E_PARAMNOTOPTIONAL;
            }
            flags = DISPATCH_PROPERTYPUT;
            expected = 1;
            types = &putType;
        } else if (flags & DISPATCH_PROPERTYGET) {
            flags = DISPATCH_PROPERTYGET;
            expected = 0;
        } else {
            return DISP_E_MEMBERNOTFOUND;
        }
    } else {
        if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) return DISP_E_MEMBERNOTFOUND;
        if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
        flags = DISPATCH_METHOD;
    }
    if (params->cArgs != expected) return DISP_E_BADPARAMCOUNT;

    // Arguments come last first; convert them into the caller's order.
    std::vector<VARIANT> args(expected);
    for (VARIANT& arg : args) VariantInit(&arg);
    auto clearArgs = [&args] {
        for (VARIANT& arg : args) VariantClear(&arg);
    };
    for (UINT i = 0; i < expected; ++i) {
        UINT from = expected - 1 - i;
        HRESULT hr = VariantChangeType(&args[i], &params->rgvarg[from], 0, types[i]);
        if (FAILED(hr)) {
            clearArgs();
            if (argErr != nullptr) *argErr = from;
            return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
        }
    }

    VARIANT local;
    VariantInit(&local);
    HRESULT hr;
    try {
        hr = InvokeMember(*entry, flags, args, result != nullptr ? &local : nullptr);
    } catch (const CException& e) {
        FillException(excepInfo, identity_.appName, e.what(), E_FAIL);
        hr = DISP_E_EXCEPTION;
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    clearArgs();
    if (SUCCEEDED(hr) && result != nullptr) {
        *result = local;  // ownership moves to the caller
    } else {
        VariantClear(&local);
    }
    return hr;
}

void COleControl::FireEvent(DISPID id, std::span<const VARIANT> args) {
    if (freezeCount_ > 0) return;  // the container has frozen the events: dropped, as MFC does
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                      static_cast<UINT>(reversed.size()), 0};
    events_.Fire(id, &params);
}
