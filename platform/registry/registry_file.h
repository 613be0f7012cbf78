// The registry file: where it lives, reading it whole, and changing it as one transaction
// under a file lock with an atomic replace. See platform/winreg.h for the guarantees.
#pragma once

#include <functional>
#include <string>

#include "platform/registry/registry_tree.h"

namespace talrec::registry {

// The file's path from the environment, looked up on every call.
std::string FilePath();

// Reads the registry. A missing file is an empty registry. ERROR_BADDB for a damaged file,
// ERROR_ACCESS_DENIED for one that cannot be read.
DWORD Load(Key& root);

// A change runs on the current content under the lock and returns ERROR_SUCCESS, setting
// changed when there is something to write; any other result leaves the file as it was. A
// damaged file is moved aside first and the change runs on an empty registry.
using Change = std::function<DWORD(Key& root, bool& changed)>;
DWORD Modify(const Change& change);

}  // namespace talrec::registry
