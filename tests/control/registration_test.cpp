// Self-registration of the control module and creation through the registry alone, with a
// registry of the test's own.
#include "control/Registration.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "control/Guids.h"
#include "control/Interfaces.h"
#include "framework/afxconv.h"
#include "platform/comcat.h"
#include "platform/libloaderapi.h"
#include "platform/objbase.h"
#include "platform/ocidl.h"
#include "platform/winreg.h"
#include "support/TempDir.h"

using namespace talrec::control;
using namespace talrec::test;

namespace {

std::string LibDir() {
    return std::getenv("TALREC_LIB_DIR");
}

// The module's exports, resolved once.
struct Module {
    HMODULE handle;
    HRESULT (*Register)();
    HRESULT (*Unregister)();
    HRESULT (*CanUnloadNow)();
    explicit Module(const std::string& path) : handle(LoadLibraryA(path.c_str())) {
        Register = Entry<HRESULT (*)()>("DllRegisterServer");
        Unregister = Entry<HRESULT (*)()>("DllUnregisterServer");
        CanUnloadNow = Entry<HRESULT (*)()>("DllCanUnloadNow");
    }
    ~Module() { FreeLibrary(handle); }
    template <typename F>
    F Entry(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
    }
};

std::string Value(const std::string& key, const char* name = nullptr) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return "<missing>";
    }
    char data[1024] = {};
    DWORD size = sizeof data;
    DWORD type = 0;
    LSTATUS status =
        RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS ? std::string(data) : "<no value>";
}

std::string Guid(REFGUID guid) {
    OLECHAR text[40] = {};
    StringFromGUID2(guid, text, 40);
    return AfxWideToAnsi(text);
}

class RegistrationTest : public ::testing::Test {
  protected:
    void SetUp() override { registry_.emplace("TALREC_REGISTRY", Registry()); }
    std::string Registry() const { return tmp_ / "registry"; }
    std::string Contents() const { return ReadFile(Registry()); }

    TempDir tmp_;
    std::optional<ScopedEnv> registry_;
    Module module_{LibDir() + "/TalRecorderForDvRecUp.ocx"};
};

TEST_F(RegistrationTest, WritesTheClassEntriesAndRegisteringTwiceChangesNothing) {
    ASSERT_NE(module_.Register, nullptr);
    ASSERT_EQ(module_.Register(), S_OK);
    std::string first = Contents();
    ASSERT_EQ(module_.Register(), S_OK);
    EXPECT_EQ(Contents(), first);

    const std::string clsid = "CLSID\\" + Guid(CLSID_TalRecorderForDvRecUp);
    std::string path = std::filesystem::canonical(LibDir() + "/TalRecorderForDvRecUp.ocx");
    EXPECT_EQ(Value(kProgID), "TalRecorderForDvRecUp Control");
    EXPECT_EQ(Value(std::string(kProgID) + "\\CLSID"), Guid(CLSID_TalRecorderForDvRecUp));
    EXPECT_EQ(Value(clsid), "TalRecorderForDvRecUp Control");
    EXPECT_EQ(Value(clsid + "\\ProgID"), kProgID);
    EXPECT_EQ(Value(clsid + "\\InprocServer32"), path);
    EXPECT_EQ(Value(clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Value(clsid + "\\ToolboxBitmap32"), path + ", 1");
    EXPECT_EQ(Value(clsid + "\\MiscStatus"), "0");
    EXPECT_EQ(Value(clsid + "\\MiscStatus\\1"), "131473");
    EXPECT_EQ(Value(clsid + "\\Control"), "");
    EXPECT_EQ(Value(clsid + "\\TypeLib"), Guid(LIBID_TalRecorderForDvRecUpLib));
    EXPECT_EQ(Value(clsid + "\\Version"), "1.0");
    const std::string page = "CLSID\\" + Guid(CLSID_TalRecorderForDvRecUpPropPage);
    EXPECT_EQ(Value(page), "TalRecorderForDvRecUp Property Page");
    EXPECT_EQ(Value(page + "\\InprocServer32"), path);
    EXPECT_EQ(Value(page + "\\InprocServer32", "ThreadingModel"), "<no value>");
    EXPECT_EQ(Value(kPropPageProgID), "<missing>");
}

TEST_F(RegistrationTest, RemovalLeavesTheCategoriesAndNeedsNoEarlierRegistration) {
    EXPECT_EQ(module_.Unregister(), S_OK) << "never registered";
    ASSERT_EQ(module_.Register(), S_OK);
    ASSERT_EQ(module_.Unregister(), S_OK);
    EXPECT_EQ(Value("CLSID\\" + Guid(CLSID_TalRecorderForDvRecUp)), "<missing>");
    EXPECT_EQ(Value(kProgID), "<missing>");
    EXPECT_EQ(Value("TypeLib\\" + Guid(LIBID_TalRecorderForDvRecUpLib)), "<missing>");
    EXPECT_EQ(Value("Component Categories\\" + Guid(CATID_SafeForScripting), "409"),
              "Controls that are safely scriptable");
    EXPECT_EQ(Value("Component Categories\\" + Guid(CATID_SafeForInitializing), "409"),
              "Controls safely initializable from persistent data");
}

TEST_F(RegistrationTest, ACategoryDescriptionIsCutAt127Units) {
    ASSERT_EQ(RegisterSafetyCategory(CATID_SafeForScripting, std::string(200, 'd').c_str()), S_OK);
    EXPECT_EQ(Value("Component Categories\\" + Guid(CATID_SafeForScripting), "409"),
              std::string(127, 'd'));
}

TEST_F(RegistrationTest, ALibraryWhoseIdIsNotTheModulesIsRefusedBeforeAnyClassEntry) {
    Module foreign(LibDir() + "/TalRecorderForeignLib.ocx");
    ASSERT_NE(foreign.Register, nullptr);
    EXPECT_EQ(foreign.Register(), SELFREG_E_TYPELIB);
    EXPECT_EQ(Value("CLSID\\" + Guid(CLSID_TalRecorderForDvRecUp)), "<missing>");
    EXPECT_EQ(Value(kProgID), "<missing>");
}

TEST_F(RegistrationTest, AContainerCreatesTheControlThroughTheRegistryAlone) {
    ASSERT_EQ(module_.Register(), S_OK);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(AfxAnsiToWide(kProgID).c_str(), &clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_TalRecorderForDvRecUp);

    ICatInformation* categories = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICatInformation, reinterpret_cast<void**>(&categories)),
              S_OK);
    for (CATID id : {CATID_SafeForScripting, CATID_SafeForInitializing}) {
        EXPECT_EQ(categories->IsClassOfCategories(clsid, 1, &id, static_cast<ULONG>(-1), nullptr),
                  S_OK);
    }
    categories->Release();

    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
    IDispatch* control = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(&control)),
              S_OK);
    IConnectionPointContainer* points = nullptr;
    ASSERT_EQ(
        control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points)),
        S_OK);
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(points->FindConnectionPoint(DIID__DTalRecorderForDvRecUpEvents, &point), S_OK);
    points->Release();
    // Any dispatch object will do as a sink for connecting; the control itself is one.
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(control, &cookie), S_OK);
    EXPECT_EQ(module_.CanUnloadNow(), S_FALSE) << "the control lives";
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    point->Release();

    // Names resolve through the registered type library with a locale.
    LPOLESTR name = const_cast<LPOLESTR>(u"PlayStopOrg");
    DISPID id = 0;
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, 0x0409, &id), S_OK);
    EXPECT_EQ(id, 18);
    control->Release();
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(module_.CanUnloadNow(), S_FALSE) << "the factory is held";
    factory->LockServer(TRUE);
    factory->Release();
    EXPECT_EQ(module_.CanUnloadNow(), S_FALSE) << "the module is locked";
    ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
}

TEST_F(RegistrationTest, ADamagedRegistryIsSetAsideByTheFirstRegistration) {
    for (const std::string& damage : {std::string(), std::string("\x01\xff garbage\n", 11),
                                      std::string("[HKEY_CLASSES_ROOT\\CLSID")}) {
        std::ofstream(Registry(), std::ios::binary | std::ios::trunc) << damage;
        CLSID clsid;
        EXPECT_NE(CLSIDFromProgID(AfxAnsiToWide(kProgID).c_str(), &clsid), S_OK);
        EXPECT_EQ(module_.Register(), S_OK) << "the first registration after the damage";
        EXPECT_EQ(CLSIDFromProgID(AfxAnsiToWide(kProgID).c_str(), &clsid), S_OK);
    }
}

TEST_F(RegistrationTest, TwoRegistrationsAtOnceLoseNothing) {
    const std::string talrec = std::string(std::getenv("TALREC_BIN_DIR")) + "/talrec";
    for (int round = 0; round < 100; ++round) {
        std::filesystem::remove(Registry());
        pid_t children[2];
        for (pid_t& child : children) {
            child = fork();
            if (child == 0) {
                freopen("/dev/null", "w", stdout);
                execl(talrec.c_str(), talrec.c_str(), "register", static_cast<char*>(nullptr));
                _exit(127);
            }
        }
        for (pid_t child : children) {
            int status = 0;
            waitpid(child, &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        const std::string clsid = "CLSID\\" + Guid(CLSID_TalRecorderForDvRecUp);
        ASSERT_EQ(Value(clsid + "\\InprocServer32", "ThreadingModel"), "Apartment") << round;
        ASSERT_EQ(Value(clsid + "\\Version"), "1.0") << round;
        ASSERT_EQ(Value("CLSID\\" + Guid(CLSID_TalRecorderForDvRecUpPropPage)),
                  "TalRecorderForDvRecUp Property Page")
            << round;
        ASSERT_EQ(Value("Component Categories\\" + Guid(CATID_SafeForInitializing), "409"),
                  "Controls safely initializable from persistent data")
            << round;
        ASSERT_NE(Value("TypeLib\\" + Guid(LIBID_TalRecorderForDvRecUpLib)), "<missing>") << round;
    }
}

}  // namespace
