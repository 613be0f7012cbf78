// The module's exports and its two class factories. Each factory's description (class id,
// ProgID, how to create the object) is one global record for the module's whole life;
// DllGetClassObject hands out a class object for it, which counts as a live object of the
// module while a container holds it.
#include <new>

#include "control/Guids.h"
#include "control/PropPage.h"
#include "control/Registration.h"
#include "control/TalRecorderCtrl.h"
#include "platform/ext/comobject.h"
#include "platform/objbase.h"
#include "platform/wrl/client.h"

using namespace talrec::control;
using Microsoft::WRL::ComPtr;

namespace {

struct FactoryRecord {
    const CLSID& clsid;
    const char* progId;  // held, never written to the registry for the page
    bool multipleInstances;
    IUnknown* (*create)();
};

IUnknown* NewControl() {
    return static_cast<IDispatch*>(new (std::nothrow) CTalRecorderForDvRecUpCtrl);
}
IUnknown* NewPropPage() {
    return new (std::nothrow) CTalRecorderForDvRecUpPropPage;
}

const FactoryRecord g_factories[] = {
    {CLSID_TalRecorderForDvRecUp, kProgID, false, NewControl},
    {CLSID_TalRecorderForDvRecUpPropPage, kPropPageProgID, false, NewPropPage},
};

// The class object of one factory record.
class CClassFactory final : public ComObject<IClassFactory> {
  public:
    explicit CClassFactory(const FactoryRecord& record) : record_(record) {
        CTalRecorderForDvRecUpCtrl::Module().AddObject();
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        ComPtr<IUnknown> created;
        created.Attach(record_.create());
        if (!created) return E_OUTOFMEMORY;
        return created->QueryInterface(riid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        CTalRecorderForDvRecUpCtrl::Module().Lock(lock);
        return S_OK;
    }

  private:
    ~CClassFactory() override { CTalRecorderForDvRecUpCtrl::Module().RemoveObject(); }
    IUnknown* Interface(REFIID riid) override {
        return riid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
    }

    const FactoryRecord& record_;
};

HRESULT UpdateRegistry(bool registering) {
    std::string module = ModulePath();
    // Every factory is asked, even after one has failed.
    bool control = UpdateControlRegistration(registering, module);
    bool page = UpdatePropPageRegistration(registering, module);
    return control && page ? S_OK : SELFREG_E_CLASS;
}

}  // namespace

STDAPI DllRegisterServer() {
    if (!RegisterTypeLibrary(ModulePath())) return SELFREG_E_TYPELIB;
    return UpdateRegistry(true);
}

STDAPI DllUnregisterServer() {
    if (!UnregisterTypeLibrary()) return SELFREG_E_TYPELIB;
    return UpdateRegistry(false);
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    for (const FactoryRecord& record : g_factories) {
        if (record.clsid != clsid) continue;
        ComPtr<CClassFactory> factory;
        factory.Attach(new (std::nothrow) CClassFactory(record));
        if (!factory) return E_OUTOFMEMORY;
        return factory->QueryInterface(riid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// S_FALSE while any object of the module, any class object a container holds, or any lock
// is alive.
STDAPI DllCanUnloadNow() {
    return CTalRecorderForDvRecUpCtrl::Module().CanUnload() ? S_OK : S_FALSE;
}
