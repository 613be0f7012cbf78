// talrec register|unregister [MODULE]: calls the control module's self-registration export,
// as a registration tool does, and prints its result.
#include <cstdio>
#include <string>

#include "host/Commands.h"
#include "host/StatusText.h"
#include "platform/libloaderapi.h"

namespace {

// The control module beside the program's install: ../lib/TalRecorderForDvRecUp.ocx.
std::string DefaultModule() {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string path = program;
    std::size_t slash = path.rfind('/');
    std::string bin = slash == std::string::npos ? "." : path.substr(0, slash);
    return bin + "/../lib/TalRecorderForDvRecUp.ocx";
}

int CallExport(const char* command, const char* exportName, int argc, char** argv) {
    if (argc > 0 && (std::string(argv[0]) == "--help" || std::string(argv[0]) == "-h")) {
        std::printf("usage: talrec %s [MODULE]\n  Calls %s of the control module (default: %s).\n",
                    command, exportName, DefaultModule().c_str());
        return 0;
    }
    if (argc > 1) {
        std::fprintf(stderr, "talrec %s: too many arguments\n", command);
        return 2;
    }
    std::string module = argc == 1 ? argv[0] : DefaultModule();
    HMODULE library = LoadLibraryA(module.c_str());
    if (library == nullptr) {
        std::fprintf(stderr, "talrec %s: cannot load %s\n", command, module.c_str());
        return 1;
    }
    auto entry = reinterpret_cast<HRESULT (*)()>(
        reinterpret_cast<void*>(GetProcAddress(library, exportName)));
    if (entry == nullptr) {
        std::fprintf(stderr, "talrec %s: %s has no %s\n", command, module.c_str(), exportName);
        FreeLibrary(library);
        return 1;
    }
    HRESULT hr = entry();
    FreeLibrary(library);
    std::printf("%s: 0x%08X %s\n", exportName, static_cast<unsigned>(hr), StatusText(hr).c_str());
    return SUCCEEDED(hr) ? 0 : 1;
}

}  // namespace

int RunRegister(int argc, char** argv) {
    return CallExport("register", "DllRegisterServer", argc, argv);
}

int RunUnregister(int argc, char** argv) {
    return CallExport("unregister", "DllUnregisterServer", argc, argv);
}
