#include "storage/ScriptPaths.h"

#include "platform/ext/grantedfolders.h"
#include "platform/ext/paths.h"
#include "platform/fileapi.h"
#include "storage/DataFolder.h"

std::vector<std::string> ScriptFolders() {
    std::vector<std::string> folders;
    std::string dataFolder;
    if (talrec::platform::ResolvePath(ComputeDataFolder(), dataFolder)) {
        folders.push_back(dataFolder);
    }
    for (const std::string& granted : talrec::platform::ContainerGrantedFolders()) {
        folders.push_back(granted);
    }
    return folders;
}

namespace {

bool Allowed(const std::string& path, bool folderItself) {
    using namespace talrec::platform;
    std::string resolved;
    if (!ResolvePath(path, resolved)) return false;
    for (const std::string& folder : ScriptFolders()) {
        if (PathIsInside(resolved, folder) && (folderItself || resolved != folder)) return true;
    }
    return false;
}

}  // namespace

bool IsScriptPathAllowed(const std::string& path) {
    return Allowed(path, false);
}

bool IsScriptFolderAllowed(const std::string& path) {
    return Allowed(path, true);
}
