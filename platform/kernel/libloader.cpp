// Run-time libraries over dlopen, and the system directory.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/libloaderapi.h"

namespace {

// Copies text with its terminator if it fits; the Win32 result conventions of the callers.
UINT CopyOut(const std::string& text, LPSTR buffer, UINT size) {
    if (buffer == nullptr || text.size() + 1 > size) return static_cast<UINT>(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<UINT>(text.size());
}

std::string RealPath(const char* path) {
    char resolved[PATH_MAX];
    return ::realpath(path, resolved) ? std::string(resolved) : std::string();
}

std::string Parent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string ProgramPath() {
    return RealPath("/proc/self/exe");
}

// The folder this code was loaded from, as described in the header.
std::string InstallFolder() {
    Dl_info info{};
    link_map* map = nullptr;
    if (::dladdr1(reinterpret_cast<void*>(&GetSystemDirectoryA), &info,
                  reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) != 0 &&
        map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
        return Parent(RealPath(map->l_name));
    }
    const std::string bin = Parent(ProgramPath());
    if (bin.empty()) return std::string();
    const std::string prefix = Parent(bin);
    return (prefix == "/" ? std::string() : prefix) + "/lib";
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr || lpLibFileName[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* handle = ::dlopen(lpLibFileName, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (hModule == nullptr || lpProcName == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = ::dlsym(hModule, lpProcName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE hLibModule) {
    if (hLibModule == nullptr || ::dlclose(hLibModule) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    std::string path;
    if (hModule == nullptr) {
        path = ProgramPath();
    } else {
        link_map* map = nullptr;
        if (::dlinfo(hModule, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name) {
            path = map->l_name[0] != '\0' ? RealPath(map->l_name) : ProgramPath();
        }
    }
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (lpFilename == nullptr || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() + 1 > nSize) {
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    std::string folder;
    const char* configured = std::getenv("TALREC_SYSTEM_DIR");
    if (configured != nullptr && configured[0] != '\0') {
        folder = configured;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    } else {
        folder = InstallFolder();
    }
    if (folder.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    return CopyOut(folder, lpBuffer, uSize);
}
