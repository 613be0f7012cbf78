// The component-object runtime: identifiers in text form, initialisation, class objects and
// in-process servers, task memory.
//
// In-process servers: CoGetClassObject reads CLSID\{clsid}\InprocServer32 (its default value,
// the module's path) from the registry (platform/winreg.h), opens the module with dlopen, and
// calls its export "DllGetClassObject". A module stays loaded until CoFreeUnusedLibraries finds
// its "DllCanUnloadNow" answering S_OK. The standard component-categories manager
// (CLSID_StdComponentCategoriesMgr, platform/comcat.h) is built in and needs no registration.
//
// Every function may be called from any thread. The runtime's state (the modules it opened) is
// one per process: the platform layer is one shared library that the host and the modules it
// loads all use.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/oaidl.h"

enum CLSCTX : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_INPROC = 0x3,
    CLSCTX_SERVER = 0x15,
    CLSCTX_ALL = 0x17,
};

enum COINIT : DWORD {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
};

// {00000001-0000-0000-C000-000000000046}
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The object that makes the objects of one class.
struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
    // Locking keeps the module loaded while no object of it lives.
    virtual HRESULT LockServer(BOOL lock) = 0;

  protected:
    ~IClassFactory() = default;
};

// The two exports every in-process server module has: DllGetClassObject, DllCanUnloadNow.
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID clsid, REFIID riid, void** object);
using LPFNCANUNLOADNOW = HRESULT (*)();

// Counts initialisations of the calling thread: S_OK for the first, S_FALSE for each further
// one; CoUninitialize undoes one. Nothing else depends on it: this runtime has no apartments,
// so class objects can be had on any thread, initialised or not, and CoUninitialize unloads
// nothing (CoFreeUnusedLibraries does).
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
void CoUninitialize();

// Finds the class object. CLSCTX_INPROC_SERVER must be in context (other contexts give
// REGDB_E_CLASSNOTREG). REGDB_E_CLASSNOTREG when the class has no InprocServer32 path,
// CO_E_DLLNOTFOUND when the module cannot be opened, CO_E_ERRORINDLL when it has no
// DllGetClassObject; else the export's own result. serverInfo must be null.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid,
                         void** object);
// The class object's CreateInstance, then the class object released.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object);
// Unloads each module loaded by CoGetClassObject whose DllCanUnloadNow answers S_OK (a module
// without that export stays). DllCanUnloadNow runs under the runtime's lock and must not call
// back into it.
void CoFreeUnusedLibraries();

// Task memory, for strings a callee allocates and the caller frees.
void* CoTaskMemAlloc(std::size_t size);
void* CoTaskMemRealloc(void* block, std::size_t size);
void CoTaskMemFree(void* block);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case with its terminator: returns 39,
// the units written, or 0 when maxUnits is less.
int StringFromGUID2(REFGUID guid, LPOLESTR text, int maxUnits);
// The same text in task memory (CoTaskMemFree).
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
HRESULT StringFromIID(REFIID iid, LPOLESTR* text);
// Reads the braced form (hex digits of either case). CLSIDFromString also takes a ProgID.
// CO_E_CLASSSTRING for text of neither kind.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
// E_INVALIDARG for text not in the braced form.
HRESULT IIDFromString(LPCOLESTR text, IID* iid);
// ProgID\CLSID's default value; CO_E_CLASSSTRING when the ProgID is not registered.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
// CLSID\{clsid}\ProgID's default value in task memory; REGDB_E_CLASSNOTREG when absent.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);

#endif  // _WIN32
