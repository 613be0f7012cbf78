// VARIANT lifetime and copying, and fetching arguments out of DISPPARAMS.
#include "platform/oleauto.h"

namespace {

// The tags whose value this platform knows how to own, copy and free.
bool KnownType(VARTYPE vt) {
    if (vt & VT_ARRAY) return false;
    if (vt & VT_BYREF) vt = static_cast<VARTYPE>(vt & ~VT_BYREF);
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_ERROR:
        case VT_BOOL:
        case VT_UNKNOWN:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
            return true;
        default:
            return false;
    }
}

}  // namespace

void VariantInit(VARIANTARG* v) {
    if (v == nullptr) return;
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->brecord[0] = v->brecord[1] = nullptr;
}

HRESULT VariantClear(VARIANTARG* v) {
    if (v == nullptr) return E_INVALIDARG;
    bool byref = (v->vt & VT_BYREF) != 0;
    if (!KnownType(v->vt) && !(byref && (v->vt & ~VT_BYREF) == VT_VARIANT))
        return DISP_E_BADVARTYPE;
    if (!byref) {
        if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
        if ((v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN) && v->punkVal != nullptr)
            v->punkVal->Release();
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
    if (dest == nullptr || src == nullptr) return E_INVALIDARG;
    if (dest == src) return S_OK;
    bool byref = (src->vt & VT_BYREF) != 0;
    if (!KnownType(src->vt) && !(byref && (src->vt & ~VT_BYREF) == VT_VARIANT))
        return DISP_E_BADVARTYPE;
    VARIANT copy = *src;
    if (!byref) {
        if (src->vt == VT_BSTR && src->bstrVal != nullptr) {
            copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
            if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
        }
        if ((src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) && src->punkVal != nullptr)
            src->punkVal->AddRef();
    }
    if (HRESULT hr = VariantClear(dest); FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *dest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src) {
    if (dest == nullptr || src == nullptr) return E_INVALIDARG;
    if (!(src->vt & VT_BYREF)) return VariantCopy(dest, src);
    VARTYPE base = static_cast<VARTYPE>(src->vt & ~VT_BYREF);
    if (src->byref == nullptr) return E_INVALIDARG;
    VARIANT target;
    VariantInit(&target);
    target.vt = base;
    switch (base) {
        case VT_VARIANT:
            return VariantCopyInd(dest, src->pvarVal);
        case VT_I1:
        case VT_UI1:
            target.bVal = *src->pbVal;
            break;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            target.iVal = *src->piVal;
            break;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_ERROR:
        case VT_R4:
            target.lVal = *src->plVal;
            break;
        case VT_R8:
        case VT_DATE:
        case VT_CY:
        case VT_I8:
        case VT_UI8:
            target.llVal = *static_cast<const LONGLONG*>(src->byref);
            break;
        case VT_BSTR:
            target.bstrVal = *src->pbstrVal;
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            target.punkVal = *src->ppunkVal;
            break;
        default:
            return DISP_E_BADVARTYPE;
    }
    // target borrows the referenced value; VariantCopy makes dest's own copy.
    return VariantCopy(dest, &target);
}

HRESULT DispGetParam(DISPPARAMS* params, UINT position, VARTYPE vtTarget, VARIANT* result,
                     UINT* argErr) {
    if (params == nullptr || result == nullptr) return E_INVALIDARG;
    if (params->cNamedArgs > params->cArgs) return E_INVALIDARG;
    UINT index = params->cArgs;  // none yet
    for (UINT i = 0; i < params->cNamedArgs; ++i) {
        if (params->rgdispidNamedArgs != nullptr &&
            params->rgdispidNamedArgs[i] == static_cast<DISPID>(position)) {
            index = i;
            break;
        }
    }
    if (index == params->cArgs) {
        UINT positional = params->cArgs - params->cNamedArgs;
        if (position >= positional) return DISP_E_PARAMNOTFOUND;
        index = params->cArgs - 1 - position;
    }
    VariantInit(result);
    HRESULT hr = VariantChangeType(result, &params->rgvarg[index], 0, vtTarget);
    if (FAILED(hr) && argErr != nullptr) *argErr = index;
    return hr;
}
