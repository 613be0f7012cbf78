// The module's exports and its two class factories. The factories live from load to unload;
// containers reach them through DllGetClassObject.
#include <atomic>

#include "control/Guids.h"
#include "control/PropPage.h"
#include "control/Registration.h"
#include "control/TalRecorderCtrl.h"
#include "platform/objbase.h"

#define TALREC_EXPORT extern "C" __attribute__((visibility("default")))

using namespace talrec::control;

namespace {

// One global factory per class; references from outside count toward DllCanUnloadNow.
class CClassFactory final : public IClassFactory {
  public:
    using Create = IUnknown* (*)();
    CClassFactory(const CLSID& clsid, const char* progId, Create create)
        : clsid_(clsid), progId_(progId), create_(create) {}

    const CLSID& ClassId() const { return clsid_; }
    const char* ProgId() const { return progId_; }
    bool Referenced() const { return refs_.load() != 0; }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override { return --refs_; }  // a global object, never deleted

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        IUnknown* created = create_();
        if (created == nullptr) return E_OUTOFMEMORY;
        HRESULT hr = created->QueryInterface(riid, object);
        created->Release();
        return hr;
    }
    HRESULT LockServer(BOOL lock) override {
        auto& locks = CTalRecorderForDvRecUpCtrl::Module().locks;
        lock ? ++locks : --locks;
        return S_OK;
    }

  private:
    CLSID clsid_;
    const char* progId_;  // held, never written to the registry for the page
    Create create_;
    std::atomic<ULONG> refs_{0};
};

IUnknown* NewControl() {
    return static_cast<IDispatch*>(new (std::nothrow) CTalRecorderForDvRecUpCtrl);
}
IUnknown* NewPropPage() {
    return new (std::nothrow) CTalRecorderForDvRecUpPropPage;
}

CClassFactory g_controlFactory(CLSID_TalRecorderForDvRecUp, kProgID, NewControl);
CClassFactory g_propPageFactory(CLSID_TalRecorderForDvRecUpPropPage, kPropPageProgID, NewPropPage);
CClassFactory* const g_factories[] = {&g_controlFactory, &g_propPageFactory};

HRESULT UpdateRegistry(bool registering) {
    std::string module = ModulePath();
    // Every factory is asked, even after one has failed.
    bool control = UpdateControlRegistration(registering, module);
    bool page = UpdatePropPageRegistration(registering, module);
    return control && page ? S_OK : SELFREG_E_CLASS;
}

}  // namespace

TALREC_EXPORT HRESULT DllRegisterServer() {
    if (!RegisterTypeLibrary(ModulePath())) return SELFREG_E_TYPELIB;
    return UpdateRegistry(true);
}

TALREC_EXPORT HRESULT DllUnregisterServer() {
    if (!UnregisterTypeLibrary()) return SELFREG_E_TYPELIB;
    return UpdateRegistry(false);
}

TALREC_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    for (CClassFactory* factory : g_factories) {
        if (factory->ClassId() == clsid) return factory->QueryInterface(riid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

TALREC_EXPORT HRESULT DllCanUnloadNow() {
    if (!CTalRecorderForDvRecUpCtrl::Module().CanUnload()) return S_FALSE;
    for (CClassFactory* factory : g_factories) {
        if (factory->Referenced()) return S_FALSE;
    }
    return S_OK;
}
