// Registering, finding and removing type libraries in the registry.
#include <gtest/gtest.h>

#include <string>

#include "platform/oleauto.h"
#include "platform/winreg.h"
#include "tests/platform/ole/com_testenv.h"
#include "tests/platform/ole/com_testmodule.h"

namespace {

const std::string kLibKey = "TypeLib\\{6A1D0002-1111-4222-8333-000000000002}";
const std::string kIfaceKey = "Interface\\{6A1D0003-1111-4222-8333-000000000003}";

std::u16string Wide(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

class TypeLibRegistry : public ScratchRegistry {
  protected:
    void RegisterModule() {
        ITypeLib* lib = nullptr;
        ASSERT_EQ(LoadTypeLib(Wide(TEST_MODULE_PATH).c_str(), &lib), S_OK);
        ASSERT_EQ(RegisterTypeLib(lib, Wide(TEST_MODULE_PATH).c_str(), u""), S_OK);
        lib->Release();
    }
};

TEST_F(TypeLibRegistry, RegistrationWritesTheLibraryAndItsInterfaces) {
    RegisterModule();
    std::string module = TEST_MODULE_PATH;
    EXPECT_EQ(Value(kLibKey + "\\1.0"), "Adder module");
    EXPECT_EQ(Value(kLibKey + "\\1.0\\FLAGS"), "2");
    EXPECT_EQ(Value(kLibKey + "\\1.0\\HELPDIR"), module.substr(0, module.rfind('/')));
    EXPECT_EQ(Value(kLibKey + "\\1.0\\409\\linux"), module);
    EXPECT_EQ(Value(kIfaceKey), "_DAdder");
    EXPECT_EQ(Value(kIfaceKey + "\\ProxyStubClsid32"), "{00020420-0000-0000-C000-000000000046}");
    EXPECT_EQ(Value(kIfaceKey + "\\TypeLib"), "{6A1D0002-1111-4222-8333-000000000002}");
    EXPECT_EQ(Value(kIfaceKey + "\\TypeLib", "Version"), "1.0");

    std::string first = FileText();
    RegisterModule();
    EXPECT_EQ(FileText(), first) << "registering twice changes nothing";
}

TEST_F(TypeLibRegistry, RegisteredLibraryIsFoundByIdVersionAndLocale) {
    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadRegTypeLib(kLibidAdder, 1, 0, 0x409, &lib), TYPE_E_LIBNOTREGISTERED);
    RegisterModule();
    for (LCID lcid : {0x409u, 0x809u, 0x407u, 0u}) {  // exact, same language, other, neutral
        ASSERT_EQ(LoadRegTypeLib(kLibidAdder, 1, 0, lcid, &lib), S_OK) << lcid;
        TLIBATTR* attr = nullptr;
        lib->GetLibAttr(&attr);
        EXPECT_EQ(attr->guid, kLibidAdder);
        lib->ReleaseTLibAttr(attr);
        lib->Release();
    }
    EXPECT_EQ(LoadRegTypeLib(kLibidAdder, 1, 1, 0x409, &lib), TYPE_E_LIBNOTREGISTERED)
        << "a newer minor version was asked for";
    EXPECT_EQ(LoadRegTypeLib(kLibidAdder, 2, 0, 0x409, &lib), TYPE_E_LIBNOTREGISTERED);

    // A registration that points at a module without the library.
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (kLibKey + "\\1.0\\409\\linux").c_str(), REG_SZ,
                           "/no/such/module.so", 0),
              ERROR_SUCCESS);
    EXPECT_EQ(LoadRegTypeLib(kLibidAdder, 1, 0, 0x409, &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(lib, nullptr);
}

TEST_F(TypeLibRegistry, RemovalTakesItsOwnEntriesAndCountsAbsentOnesAsRemoved) {
    EXPECT_EQ(UnRegisterTypeLib(kLibidAdder, 1, 0, 0, SYS_WIN64), S_OK) << "never registered";
    RegisterModule();
    // An interface of another library, and another version of this one, stay.
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Interface\\{OTHER}\\TypeLib", REG_SZ, "{LIB}", 0),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (kLibKey + "\\2.0").c_str(), REG_SZ, "v2", 0),
              ERROR_SUCCESS);
    EXPECT_EQ(UnRegisterTypeLib(kLibidAdder, 1, 0, 0, SYS_WIN64), S_OK);
    EXPECT_EQ(Value(kLibKey + "\\1.0"), "<no key>");
    EXPECT_EQ(Value(kIfaceKey), "<no key>");
    EXPECT_EQ(Value(kLibKey + "\\2.0"), "v2");
    EXPECT_EQ(Value("Interface\\{OTHER}\\TypeLib"), "{LIB}");
    EXPECT_EQ(UnRegisterTypeLib(kLibidAdder, 2, 0, 0, SYS_WIN64), S_OK);
    EXPECT_EQ(Value(kLibKey), "<no key>") << "no version left: the library's key goes";
    EXPECT_EQ(UnRegisterTypeLib(kLibidAdder, 1, 0, 0, SYS_WIN64), S_OK);
}

TEST_F(TypeLibRegistry, RegistryFailureIsReportedAndDamageSetAside) {
    RegisterModule();
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
    EXPECT_EQ(UnRegisterTypeLib(kLibidAdder, 1, 0, 0, SYS_WIN64), TYPE_E_REGISTRYACCESS);
    EXPECT_NE(Value(kIfaceKey), "<no key>") << "a refused removal removes nothing";
    ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
    ASSERT_EQ(UnRegisterTypeLib(kLibidAdder, 1, 0, 0, SYS_WIN64), S_OK);
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLib(Wide(TEST_MODULE_PATH).c_str(), &lib), S_OK);
    EXPECT_EQ(RegisterTypeLib(lib, Wide(TEST_MODULE_PATH).c_str(), nullptr), TYPE_E_REGISTRYACCESS);
    lib->Release();
    ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
    // A damaged registry holds nothing to remove: it is set aside and the removal succeeds.
    WriteFile("garbage");
    EXPECT_EQ(UnRegisterTypeLib(kLibidAdder, 1, 0, 0, SYS_WIN64), S_OK);
    EXPECT_EQ(FileText().rfind("talrec-registry", 0), 0u) << "a fresh registry in its place";
}

}  // namespace
