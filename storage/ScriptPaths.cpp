#include "storage/ScriptPaths.h"

#include "platform/ext/grantedfolders.h"
#include "platform/ext/paths.h"
#include "platform/fileapi.h"
#include "storage/DataFolder.h"

bool IsScriptPathAllowed(const std::string& path) {
    using namespace talrec::platform;
    std::string resolved;
    if (!ResolvePath(path, resolved)) return false;

    std::string dataFolder;
    if (ResolvePath(ComputeDataFolder(), dataFolder) && PathIsInside(resolved, dataFolder) &&
        resolved != dataFolder) {
        return true;
    }
    for (const std::string& granted : ContainerGrantedFolders()) {
        if (PathIsInside(resolved, granted) && resolved != granted) return true;
    }
    return false;
}
