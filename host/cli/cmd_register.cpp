// talrec register|unregister [MODULE]: calls the control module's self-registration export,
// as a registration tool does, and prints its result. After a registration it reads back
// the safety categories of every control the module's type library declares: the module does
// not report a category it failed to mark (by design), and a control without them is refused
// by every script host, so the command says so here rather than leave it to the container.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "host/Commands.h"
#include "host/common/ControlClass.h"
#include "host/common/StatusText.h"
#include "host/common/TerminalText.h"
#include "host/common/VariantJson.h"
#include "platform/codepage.h"
#include "platform/fileapi.h"
#include "platform/libloaderapi.h"
#include "platform/objbase.h"
#include "platform/oleauto.h"
#include "platform/wrl/client.h"

namespace talrec::host {
namespace {

using talrec::host::TerminalText;

// The control module installed with this program: the one beside the project's platform
// library where the run path found it (build/lib in a build, PREFIX/lib or /usr/lib/talrec
// when installed), else TALREC_DEFAULT_MODULE from the program's folder (set by the build:
// ../lib/TalRecorderForDvRecUp.ocx; on Windows, where the platform is the system's, the
// module beside the program).
std::string DefaultModule() {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    char platform[MAX_PATH] = {};
    HMODULE module = nullptr;
    if (GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&GetSystemDirectoryA), &module)) {
        GetModuleFileNameA(module, platform, MAX_PATH);
    }
    if (platform[0] != '\0' && std::string(platform) != program) {
        const std::string beside =
            (std::filesystem::path(platform).parent_path() / "TalRecorderForDvRecUp.ocx").string();
        if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return beside;
    }
    return (std::filesystem::path(program).parent_path() / TALREC_DEFAULT_MODULE).string();
}

// The classes that the module's type library declares as controls; false when the module
// carries no type library that loads.
bool ControlClasses(HMODULE library, std::vector<CLSID>& classes) {
    char path[MAX_PATH] = {};
    if (GetModuleFileNameA(library, path, MAX_PATH) == 0) return false;
    OLECHAR wide[MAX_PATH] = {};
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) == 0) return false;
    Microsoft::WRL::ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLib(wide, lib.GetAddressOf()))) return false;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        Microsoft::WRL::ComPtr<ITypeInfo> info;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS ||
            FAILED(lib->GetTypeInfo(i, info.GetAddressOf())))
            continue;
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attr))) {
            if ((attr->wTypeFlags & TYPEFLAG_FCONTROL) != 0) classes.push_back(attr->guid);
            info->ReleaseTypeAttr(attr);
        }
    }
    return true;
}

// Names on standard error every safety category a control of the module is not marked with;
// true when every control has both.
bool ControlsAreSafe(HMODULE library) {
    std::vector<CLSID> classes;
    if (!ControlClasses(library, classes)) {
        std::fprintf(stderr, "talrec register: the module's type library cannot be loaded\n");
        return false;
    }
    bool safe = true;
    for (const CLSID& clsid : classes) {
        std::optional<std::vector<SafetyMark>> missing = MissingSafetyMarks(clsid);
        if (!missing) {
            std::fprintf(stderr, "talrec register: the component categories cannot be read\n");
            return false;
        }
        for (const SafetyMark& mark : *missing) {
            std::fprintf(stderr,
                         "talrec register: the control %s is not marked %s (category %s); "
                         "script hosts will refuse it\n",
                         GuidText(clsid).c_str(), mark.what, GuidText(mark.category).c_str());
            safe = false;
        }
    }
    return safe;
}

// Calls the module's export and prints its result on `report` (nowhere when null).
int CallExport(const char* command, const char* exportName, const std::string& module,
               std::FILE* report) {
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
    if (report != nullptr) {
        std::fprintf(report, "%s: 0x%08X %s\n", exportName, static_cast<unsigned>(hr),
                     StatusText(hr).c_str());
        std::fflush(report);
    }
    bool ok = SUCCEEDED(hr);
    if (ok && std::string(command) == "register") ok = ControlsAreSafe(library);
    CoUninitialize();
    FreeLibrary(library);
    return ok ? 0 : 1;
}

std::string ModuleArgument(const Arguments& arguments) {
    return arguments.Positional().empty() ? DefaultModule() : arguments.Positional()[0];
}

int RunRegister(const Arguments& arguments) {
    return CallExport("register", "DllRegisterServer", ModuleArgument(arguments), stdout);
}

int RunUnregister(const Arguments& arguments) {
    return CallExport("unregister", "DllUnregisterServer", ModuleArgument(arguments), stdout);
}

}  // namespace

int RegisterInstalledControl() {
    return RunRegister(Arguments{});
}

bool ControlRegistered() {
    CoInitialize(nullptr);
    CLSID clsid;
    bool found = SUCCEEDED(CLSIDFromProgID(Utf8ToWide(kControlProgId).c_str(), &clsid));
    CoUninitialize();
    return found;
}

void RegisterOnFirstUse() {
    if (ControlRegistered()) return;
    // Standard output may carry a protocol (talrec host): everything goes to standard error.
    const std::string module = DefaultModule();
    if (CallExport("register", "DllRegisterServer", module, nullptr) == 0)
        std::fprintf(stderr, "talrec: first use: registered the control %s in your registry\n",
                     TerminalText(module).c_str());
    else
        std::fprintf(stderr, "talrec: first use: the control %s could not be registered\n",
                     TerminalText(module).c_str());
}

const Command kRegisterCommand = {
    "register",
    "[MODULE]",
    "register the control in the user's registry",
    "  Calls DllRegisterServer of the control module (default: the\n"
    "  TalRecorderForDvRecUp.ocx installed with this program), then checks that\n"
    "  every control of the module is marked safe for scripting and for initializing.\n"
    "  exit: 0 registered, 1 the module failed or a control is not marked, 2 wrong\n"
    "  arguments\n",
    {},
    0,
    1,
    RunRegister};

const Command kUnregisterCommand = {
    "unregister",
    "[MODULE]",
    "remove the control's registration",
    "  Calls DllUnregisterServer of the control module (default: the\n"
    "  TalRecorderForDvRecUp.ocx installed with this program).\n"
    "  exit: 0 removed, 1 the module failed, 2 wrong arguments\n",
    {},
    0,
    1,
    RunUnregister};

}  // namespace talrec::host
