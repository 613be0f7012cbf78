// Class objects: the built-in ones, and those of in-process server modules found through
// CLSID\{clsid}\InprocServer32 and opened with dlopen.
#include <dlfcn.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/comcat.h"
#include "platform/ole/com_builtin.h"
#include "platform/ole/com_runtime_state.h"
#include "platform/ole/com_text.h"
#include "platform/registry/registry_util.h"

namespace {

// The exports every in-process server module has, by these names.
constexpr char kGetClassObjectName[] = "DllGetClassObject";
constexpr char kCanUnloadNowName[] = "DllCanUnloadNow";

struct Module {
    std::string path;
    void* handle = nullptr;
    LPFNGETCLASSOBJECT getClassObject = nullptr;
    LPFNCANUNLOADNOW canUnloadNow = nullptr;  // may be missing: then never unloaded
    int busy = 0;  // calls into DllGetClassObject under way; the module stays while any runs
};

// Modules opened by CoGetClassObject, kept open until CoFreeUnusedLibraries. Guarded by
// g_modulesMutex; any thread.
std::mutex g_modulesMutex;
std::vector<Module> g_modules;

// Finds or opens the module and marks it busy; the caller calls Done after the export.
HRESULT OpenModule(const std::string& path, LPFNGETCLASSOBJECT& entry, void*& handle) {
    std::lock_guard lock(g_modulesMutex);
    for (Module& m : g_modules) {
        if (m.path == path) {
            entry = m.getClassObject;
            handle = m.handle;
            ++m.busy;
            return S_OK;
        }
    }
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return CO_E_DLLNOTFOUND;
    Module m;
    m.path = path;
    m.handle = handle;
    m.getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, kGetClassObjectName));
    m.canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle, kCanUnloadNowName));
    if (m.getClassObject == nullptr) {
        dlclose(handle);
        return CO_E_ERRORINDLL;
    }
    entry = m.getClassObject;
    m.busy = 1;
    g_modules.push_back(m);
    return S_OK;
}

void Done(void* handle) {
    std::lock_guard lock(g_modulesMutex);
    for (Module& m : g_modules)
        if (m.handle == handle) --m.busy;
}

}  // namespace

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid,
                         void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (serverInfo != nullptr) return E_INVALIDARG;
    if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    if (clsid == CLSID_StdComponentCategoriesMgr)
        return talrec::com::GetCategoriesManagerClassObject(riid, object);

    std::string path;
    LSTATUS rc = talrec::registry::ReadString(
        "CLSID\\" + talrec::com::GuidText(clsid) + "\\InprocServer32", "", path);
    if (rc == ERROR_FILE_NOT_FOUND || (rc == ERROR_SUCCESS && path.empty()))
        return REGDB_E_CLASSNOTREG;
    if (rc != ERROR_SUCCESS) return REGDB_E_READREGDB;
    LPFNGETCLASSOBJECT entry = nullptr;
    void* handle = nullptr;
    if (HRESULT hr = OpenModule(path, entry, handle); FAILED(hr)) return hr;
    // Called outside the lock: the module may create class objects of other modules.
    HRESULT hr = entry(clsid, riid, object);
    Done(handle);
    return hr;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, riid, object);
    factory->Release();
    return hr;
}

void CoFreeUnusedLibraries() {
    // Under the lock, so that no class object can be asked for between a module's answer and
    // its unloading. A module's DllCanUnloadNow must not call back into this runtime.
    std::lock_guard lock(g_modulesMutex);
    for (auto it = g_modules.begin(); it != g_modules.end();) {
        if (it->busy == 0 && it->canUnloadNow != nullptr && it->canUnloadNow() == S_OK) {
            dlclose(it->handle);
            it = g_modules.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t talrec::com::LoadedModuleCount() {
    std::lock_guard lock(g_modulesMutex);
    return g_modules.size();
}
