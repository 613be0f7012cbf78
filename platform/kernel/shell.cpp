#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/kernel/file_internal.h"
#include "platform/shlobj.h"

// The user's home: $HOME when it is absolute, else the password database's entry.
std::string talrec::kernel::HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return {};
}

namespace {

std::string ApplicationDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;  // relative values are ignored, as XDG says
    std::string home = talrec::kernel::HomeFolder();
    return home.empty() ? std::string() : home + "/.local/share";
}

void CreateWithParents(const std::string& path) {
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0777);
    }
}

}  // namespace

BOOL SHGetSpecialFolderPathA(HWND, LPSTR lpszPath, int csidl, BOOL fCreate) {
    if (lpszPath == nullptr || csidl != CSIDL_APPDATA) return FALSE;
    std::string folder = ApplicationDataFolder();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty() || folder.size() >= MAX_PATH) return FALSE;
    if (fCreate) CreateWithParents(folder);
    std::memcpy(lpszPath, folder.c_str(), folder.size() + 1);
    return TRUE;
}
