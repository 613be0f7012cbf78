// Short forms of the registry calls for the component model's own entries, all under
// HKEY_CLASSES_ROOT and by full key path ("CLSID\{...}\InprocServer32").
#pragma once

#include <string>
#include <vector>

#include "platform/winreg.h"

namespace talrec::registry {

// A REG_SZ value (name "" for the default); ERROR_FILE_NOT_FOUND when key or value is absent.
LSTATUS ReadString(const std::string& key, const std::string& name, std::string& value);
// Creates the key as needed and sets the REG_SZ value.
LSTATUS WriteString(const std::string& key, const std::string& name, const std::string& value);
// Creates the key as needed.
LSTATUS CreateKey(const std::string& key);
// Deletes the key's tree; an absent key counts as deleted.
LSTATUS DeleteTree(const std::string& key);
// Deletes the key when it has neither values nor subkeys; otherwise, or when absent, nothing.
LSTATUS DeleteIfEmpty(const std::string& key);
LSTATUS ListSubkeys(const std::string& key, std::vector<std::string>& names);

}  // namespace talrec::registry
