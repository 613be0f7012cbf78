// Class objects through the registry: ProgID to CLSID to InprocServer32 to dlopen.
#include <gtest/gtest.h>

#include <string>

#include "platform/objbase.h"
#include "platform/ole/com_runtime_state.h"
#include "platform/oleauto.h"
#include "platform/winreg.h"
#include "tests/platform/ole/com_testenv.h"
#include "tests/platform/ole/com_testmodule.h"

namespace {

std::string GuidString(REFGUID g) {
    OLECHAR text[39];
    StringFromGUID2(g, text, 39);
    return std::string(text, text + 38);
}

void Write(const std::string& key, const std::string& value) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), 0),
              ERROR_SUCCESS);
}

class Runtime : public ScratchRegistry {
  protected:
    void SetUp() override {
        ScratchRegistry::SetUp();
        CoInitialize(nullptr);
    }
    void TearDown() override {
        CoFreeUnusedLibraries();
        CoUninitialize();
        ScratchRegistry::TearDown();
    }
    void RegisterAdder(const std::string& module = TEST_MODULE_PATH) {
        Write("Test.Adder.1\\CLSID", GuidString(kClsidAdder));
        Write("CLSID\\" + GuidString(kClsidAdder) + "\\InprocServer32", module);
    }
};

HRESULT CallAdd(IDispatch* d, VARIANT a, VARIANT b, VARIANT& result) {
    OLECHAR name[] = u"aDD";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    VARIANT args[2] = {b, a};  // reversed
    DISPPARAMS params{args, nullptr, 2, 0};
    VariantInit(&result);
    UINT argErr = 0;
    return d->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, &argErr);
}

TEST_F(Runtime, CreatesByProgIdThroughTheRegistryAlone) {
    RegisterAdder();
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"Test.Adder.1", &clsid), S_OK);
    EXPECT_EQ(clsid, kClsidAdder);
    ASSERT_EQ(CLSIDFromString(u"Test.Adder.1", &clsid), S_OK) << "a ProgID is read too";

    IDispatch* adder = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(&adder)),
              S_OK);
    ASSERT_NE(adder, nullptr);
    VARIANT a, b, sum;
    VariantInit(&a);
    VariantInit(&b);
    a.vt = VT_BSTR;
    a.bstrVal = SysAllocString(u"40");  // a string of digits for a long
    b.vt = VT_I4;
    b.lVal = 2;
    ASSERT_EQ(CallAdd(adder, a, b, sum), S_OK);
    EXPECT_EQ(sum.vt, VT_I4);
    EXPECT_EQ(sum.lVal, 42);
    VariantClear(&a);
    a.vt = VT_BSTR;
    a.bstrVal = SysAllocString(u"forty");
    EXPECT_EQ(CallAdd(adder, a, b, sum), DISP_E_TYPEMISMATCH);
    VariantClear(&a);
    adder->Release();

    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(kClsidAdder, &progId), REGDB_E_CLASSNOTREG) << "no ProgID key yet";
    Write("CLSID\\" + GuidString(kClsidAdder) + "\\ProgID", "Test.Adder.1");
    ASSERT_EQ(ProgIDFromCLSID(kClsidAdder, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"Test.Adder.1");
    CoTaskMemFree(progId);
}

TEST_F(Runtime, ModuleStaysLoadedWhileObjectsOrLocksLive) {
    RegisterAdder();
    std::size_t before = talrec::com::LoadedModuleCount();
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(kClsidAdder, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(talrec::com::LoadedModuleCount(), before + 1);
    IDispatch* adder = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&adder)),
              S_OK);
    factory->LockServer(TRUE);
    factory->Release();

    CoFreeUnusedLibraries();
    EXPECT_EQ(talrec::com::LoadedModuleCount(), before + 1) << "an object lives";
    adder->Release();
    CoFreeUnusedLibraries();
    EXPECT_EQ(talrec::com::LoadedModuleCount(), before + 1) << "the module is locked";

    ASSERT_EQ(CoGetClassObject(kClsidAdder, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(talrec::com::LoadedModuleCount(), before + 1) << "opened once, not twice";
    factory->LockServer(FALSE);
    CoFreeUnusedLibraries();
    EXPECT_EQ(talrec::com::LoadedModuleCount(), before + 1) << "the factory is held";
    factory->Release();
    CoFreeUnusedLibraries();
    EXPECT_EQ(talrec::com::LoadedModuleCount(), before);

    // Loaded again on demand.
    IUnknown* again = nullptr;
    ASSERT_EQ(CoCreateInstance(kClsidAdder, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&again)),
              S_OK);
    again->Release();
}

TEST_F(Runtime, EachWayOfNotFindingAClassHasItsCode) {
    void* object = reinterpret_cast<void*>(1);
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(u"No.Such.1", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CoCreateInstance(kClsidAdder, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);

    RegisterAdder(dir_ + "/missing.so");
    EXPECT_EQ(CoCreateInstance(kClsidAdder, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CO_E_DLLNOTFOUND);
    RegisterAdder("libc.so.6");  // a library that serves no classes
    EXPECT_EQ(CoCreateInstance(kClsidAdder, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CO_E_ERRORINDLL);
    RegisterAdder();
    EXPECT_EQ(CoCreateInstance(kClsidAdder, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(
        CoCreateInstance(kClsidAdder, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory, &object),
        E_NOINTERFACE)
        << "the object's own answer";
    EXPECT_EQ(object, nullptr);

    // The same module registered under a class it does not serve.
    CLSID other = kClsidAdder;
    other.Data1 ^= 0xFF;
    Write("CLSID\\" + GuidString(other) + "\\InprocServer32", TEST_MODULE_PATH);
    EXPECT_EQ(CoCreateInstance(other, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(Runtime, DamagedRegistryFailsCreationWithoutCrashing) {
    RegisterAdder();
    WriteFile(FileText().substr(0, FileText().size() / 2));
    void* object = nullptr;
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(u"Test.Adder.1", &clsid), REGDB_E_READREGDB);
    EXPECT_EQ(CoCreateInstance(kClsidAdder, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_READREGDB);
    EXPECT_EQ(object, nullptr);
}

TEST(Initialisation, CountsPerThread) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitialize(nullptr), S_OK) << "balanced again";
    CoUninitialize();
    CoUninitialize();  // one too many: ignored
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
}

}  // namespace
