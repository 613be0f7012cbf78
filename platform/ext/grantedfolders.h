// What the container grants the controls it hosts: the folders, besides the control's own
// data folder, in which the file paths that a script passes may lie. `talrec host
// --allow-dir DIR` and the command-line tools grant folders here; the control only reads.
// Callable from any thread. Both targets have it; on Windows no container grants anything
// (platform/win32/granted_folders.cpp).
#pragma once

#include <string>
#include <vector>

namespace talrec::platform {

// Adds a folder (resolved now, so later changes of the current folder do not move it).
// Returns false when the folder cannot be resolved.
bool ContainerGrantFolder(const std::string& folder);
void ContainerRevokeFolders();
std::vector<std::string> ContainerGrantedFolders();

}  // namespace talrec::platform
