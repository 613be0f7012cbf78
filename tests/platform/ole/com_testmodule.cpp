// A small in-process server for the runtime's tests: one class, "Adder", whose dispatch
// interface has Add(a, b) and a property Total, described by a type library it carries.
#include "tests/platform/ole/com_testmodule.h"

#include <atomic>

#include "platform/ext/comobject.h"
#include "platform/ext/oletlbdata.h"
#include "platform/objbase.h"
#include "platform/oleauto.h"

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

const TLIBPARAMDATA kAddParams[] = {{"first", VT_I4}, {"second", VT_I4}};
const TLIBMEMBERDATA kMembers[] = {
    {kDispidTotal, TLIBMEMBER_PROPERTY, "Total", VT_I4, nullptr, 0, "property Total", 0},
    {kDispidAdd, TLIBMEMBER_METHOD, "Add", VT_I4, kAddParams, 2, "method Add", 0},
};
const TLIBIMPLDATA kImpls[] = {{kDiidAdder, IMPLTYPEFLAG_FDEFAULT}};
const TLIBTYPEDATA kTypes[] = {
    {TKIND_DISPATCH, kDiidAdder, "_DAdder", "Dispatch interface for Adder", 0, kMembers, 2, nullptr,
     0},
    {TKIND_COCLASS, kClsidAdder, "Adder", "Adder Control", TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL,
     nullptr, 0, kImpls, 1},
};
const TLIBDATA kLibrary = {
    TLIBDATA_VERSION, kLibidAdder,    0x0409,      1, 0,      LIBFLAG_FCONTROL,
    "AdderLib",       "Adder module", "Adder.hlp", 0, kTypes, 2};

class Adder final : public ComObject<IDispatch> {
  public:
    Adder() { ++g_objects; }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (index != 0) return TYPE_E_ELEMENTNOTFOUND;
        ITypeLib* lib = nullptr;
        HRESULT hr = CreateTypeLibFromData(&kLibrary, &lib);
        if (FAILED(hr)) return hr;
        hr = lib->GetTypeInfoOfGuid(kDiidAdder, info);
        lib->Release();
        return hr;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
        ITypeInfo* info = nullptr;
        HRESULT hr = GetTypeInfo(0, lcid, &info);
        if (FAILED(hr)) return hr;
        hr = DispGetIDsOfNames(info, names, count, ids);
        info->Release();
        return hr;
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO*, UINT* argErr) override {
        if (id == kDispidTotal && (flags & DISPATCH_PROPERTYGET)) {
            if (result == nullptr) return E_POINTER;
            VariantInit(result);
            result->vt = VT_I4;
            result->lVal = total_;
            return S_OK;
        }
        if (id != kDispidAdd || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        if (params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
        VARIANT a, b;
        HRESULT hr = DispGetParam(params, 0, VT_I4, &a, argErr);
        if (FAILED(hr)) return hr;
        hr = DispGetParam(params, 1, VT_I4, &b, argErr);
        if (FAILED(hr)) return hr;
        total_ += a.lVal + b.lVal;
        if (result != nullptr) {
            VariantInit(result);
            result->vt = VT_I4;
            result->lVal = a.lVal + b.lVal;
        }
        return S_OK;
    }

  private:
    ~Adder() override { --g_objects; }
    IUnknown* Interface(REFIID riid) override {
        return riid == IID_IDispatch || riid == kDiidAdder ? static_cast<IDispatch*>(this)
                                                           : nullptr;
    }

    LONG total_ = 0;
};

// Static, so no ComObject (whose last Release deletes): its count is the module's locks.
class AdderFactory final : public IClassFactory {
  public:
    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static; references to it from outside count as locks on the module.
    ULONG AddRef() override { return static_cast<ULONG>(++g_locks + 1); }
    ULONG Release() override { return static_cast<ULONG>(--g_locks + 1); }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* adder = new Adder;
        HRESULT hr = adder->QueryInterface(riid, object);
        adder->Release();
        return hr;
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock)
            ++g_locks;
        else
            --g_locks;
        return S_OK;
    }
};

AdderFactory g_factory;

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (clsid != kClsidAdder) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, object);
}

extern "C" HRESULT DllCanUnloadNow() {
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

extern "C" const TLIBDATA* TalrecGetTypeLibData() {
    return &kLibrary;
}
