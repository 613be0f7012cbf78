// talrec register|unregister [MODULE]: calls the control module's self-registration export,
// as a registration tool does, and prints its result. After a registration it reads back
// the safety categories of every control the module's type library declares: the module does
// not report a category it failed to mark (by design), and a control without them is refused
// by every script host, so the command says so here rather than leave it to the container.
#include <cstdio>
#include <string>
#include <vector>

#include "host/Commands.h"
#include "host/StatusText.h"
#include "host/TerminalText.h"
#include "platform/codepage.h"
#include "platform/comcat.h"
#include "platform/libloaderapi.h"
#include "platform/objbase.h"
#include "platform/oleauto.h"

namespace {

using talrec::host::TerminalText;

// The control module beside the program's install: ../lib/TalRecorderForDvRecUp.ocx.
std::string DefaultModule() {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string path = program;
    std::size_t slash = path.rfind('/');
    std::string bin = slash == std::string::npos ? "." : path.substr(0, slash);
    return bin + "/../lib/TalRecorderForDvRecUp.ocx";
}

std::string GuidText(REFGUID guid) {
    OLECHAR wide[40] = {};
    StringFromGUID2(guid, wide, 40);
    std::string text;
    for (const OLECHAR* c = wide; *c != 0; ++c) text += static_cast<char>(*c);  // ASCII only
    return text;
}

// The classes that the module's type library declares as controls; false when the module
// carries no type library that loads.
bool ControlClasses(HMODULE library, std::vector<CLSID>& classes) {
    char path[MAX_PATH] = {};
    if (GetModuleFileNameA(library, path, MAX_PATH) == 0) return false;
    OLECHAR wide[MAX_PATH] = {};
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) == 0) return false;
    ITypeLib* lib = nullptr;
    if (FAILED(LoadTypeLib(wide, &lib))) return false;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS ||
            FAILED(lib->GetTypeInfo(i, &info)))
            continue;
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attr))) {
            if ((attr->wTypeFlags & TYPEFLAG_FCONTROL) != 0) classes.push_back(attr->guid);
            info->ReleaseTypeAttr(attr);
        }
        info->Release();
    }
    lib->Release();
    return true;
}

// Names on standard error every safety category a control of the module is not marked with;
// true when every control has both.
bool ControlsAreSafe(HMODULE library) {
    struct Category {
        const CATID& id;
        const char* what;
    };
    const Category kSafety[] = {{CATID_SafeForScripting, "safe for scripting"},
                                {CATID_SafeForInitializing, "safe for initializing"}};
    std::vector<CLSID> classes;
    if (!ControlClasses(library, classes)) {
        std::fprintf(stderr, "talrec register: the module's type library cannot be loaded\n");
        return false;
    }
    ICatInformation* categories = nullptr;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICatInformation, reinterpret_cast<void**>(&categories)))) {
        std::fprintf(stderr, "talrec register: the component categories cannot be read\n");
        return false;
    }
    bool safe = true;
    for (const CLSID& clsid : classes) {
        for (const Category& category : kSafety) {
            CATID id = category.id;
            if (categories->IsClassOfCategories(clsid, 1, &id, static_cast<ULONG>(-1), nullptr) ==
                S_OK)
                continue;
            std::fprintf(stderr,
                         "talrec register: the control %s is not marked %s (category %s); "
                         "script hosts will refuse it\n",
                         GuidText(clsid).c_str(), category.what, GuidText(category.id).c_str());
            safe = false;
        }
    }
    categories->Release();
    return safe;
}

int CallExport(const char* command, const char* exportName, int argc, char** argv) {
    if (argc > 0 && (std::string(argv[0]) == "--help" || std::string(argv[0]) == "-h")) {
        std::printf("usage: talrec %s [MODULE]\n  Calls %s of the control module (default: %s).\n",
                    command, exportName, DefaultModule().c_str());
        if (std::string(command) == "register") {
            std::printf(
                "  Then checks that every control of the module is marked safe for\n"
                "  scripting and for initializing; exit 1 when one is not.\n");
        }
        return 0;
    }
    if (argc > 1) {
        std::fprintf(stderr, "talrec %s: too many arguments\n", command);
        return 2;
    }
    std::string module = argc == 1 ? argv[0] : DefaultModule();
    HMODULE library = LoadLibraryA(module.c_str());
    if (library == nullptr) {
        std::fprintf(stderr, "talrec %s: cannot load %s\n", command, TerminalText(module).c_str());
        return 1;
    }
    auto entry = reinterpret_cast<HRESULT (*)()>(
        reinterpret_cast<void*>(GetProcAddress(library, exportName)));
    if (entry == nullptr) {
        std::fprintf(stderr, "talrec %s: %s has no %s\n", command, TerminalText(module).c_str(),
                     exportName);
        FreeLibrary(library);
        return 1;
    }
    CoInitialize(nullptr);
    HRESULT hr = entry();
    std::printf("%s: 0x%08X %s\n", exportName, static_cast<unsigned>(hr), StatusText(hr).c_str());
    std::fflush(stdout);
    bool ok = SUCCEEDED(hr);
    if (ok && std::string(command) == "register") ok = ControlsAreSafe(library);
    CoUninitialize();
    FreeLibrary(library);
    return ok ? 0 : 1;
}

}  // namespace

int RunRegister(int argc, char** argv) {
    return CallExport("register", "DllRegisterServer", argc, argv);
}

int RunUnregister(int argc, char** argv) {
    return CallExport("unregister", "DllUnregisterServer", argc, argv);
}
