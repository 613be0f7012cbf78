#include <mutex>

#include "platform/ext/grantedfolders.h"
#include "platform/ext/paths.h"
#include "platform/fileapi.h"

namespace talrec::platform {
namespace {

std::mutex g_mutex;  // guards g_folders; any thread may grant or read
std::vector<std::string> g_folders;

}  // namespace

bool ContainerGrantFolder(const std::string& folder) {
    std::string resolved;
    if (!ResolvePath(folder, resolved)) return false;
    std::lock_guard lock(g_mutex);
    g_folders.push_back(resolved);
    return true;
}

void ContainerRevokeFolders() {
    std::lock_guard lock(g_mutex);
    g_folders.clear();
}

std::vector<std::string> ContainerGrantedFolders() {
    std::lock_guard lock(g_mutex);
    return g_folders;
}

}  // namespace talrec::platform
