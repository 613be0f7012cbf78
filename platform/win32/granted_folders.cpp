// The folders a container grants, on Windows: none. A container there (a browser, a script
// host) knows nothing of this extension, so scripts get the control's data folder only.
#include "platform/ext/grantedfolders.h"

namespace talrec::platform {

bool ContainerGrantFolder(const std::string&) {
    return false;
}

void ContainerRevokeFolders() {}

std::vector<std::string> ContainerGrantedFolders() {
    return {};
}

}  // namespace talrec::platform
