#include "storage/DataFolder.h"

#include <cstdio>
#include <cstring>

#include "framework/afxpath.h"
#include "framework/filefind.h"
#include "platform/mbstring.h"
#include "platform/shlobj.h"

namespace {

// Replaces every "Roaming" by "LocalLow", left to right, on character boundaries; the
// inserted text is not searched again.
std::string ReplaceRoaming(const std::string& path) {
    static constexpr const char kFrom[] = "Roaming";
    static constexpr const char kTo[] = "LocalLow";
    std::string out;
    auto* p = reinterpret_cast<const unsigned char*>(path.c_str());
    while (const unsigned char* hit = _mbsstr(p, reinterpret_cast<const unsigned char*>(kFrom))) {
        out.append(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(hit));
        out += kTo;
        p = hit + std::strlen(kFrom);
    }
    out += reinterpret_cast<const char*>(p);
    return out;
}

}  // namespace

std::string ComputeDataFolder() {
    char appData[MAX_PATH];
    std::memset(appData, 0, sizeof appData);
    SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, FALSE);  // empty on failure

    std::string folder = ReplaceRoaming(std::string(appData) + PATH_SEPARATOR_STRING + "quorvex");
    CreateDirectoryA(folder.c_str(), nullptr);  // usually exists already; failure not reported
    return folder;
}

LONG DeleteAudioFile(const char* filePath) {
    if (filePath == nullptr) return 1;
    return DeleteFileA(filePath) ? 0 : 1;
}

LONG DeleteAudioFileALL() {
    std::string folder = ComputeDataFolder();
    std::string pattern = folder + PATH_SEPARATOR_STRING + "*.*";

    CFileFind finder;
    BOOL more = finder.FindFile(pattern.c_str());
    bool failed = false;
    while (more) {
        more = finder.FindNextFile();
        if (finder.IsDirectory() || finder.IsDots()) continue;
        std::string path = folder + PATH_SEPARATOR_STRING + finder.GetFileName();
        if (!DeleteFileA(path.c_str())) failed = true;
    }
    return failed ? 1 : 0;
}
