#include "platform/registry/registry_util.h"

#include "platform/registry/registry_file.h"

namespace talrec::registry {

LSTATUS ReadString(const std::string& key, const std::string& name, std::string& value) {
    value.clear();
    HKEY handle;
    LSTATUS rc = RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle);
    if (rc != ERROR_SUCCESS) return rc;
    DWORD type = 0, size = 0;
    rc = RegQueryValueExA(handle, name.c_str(), nullptr, &type, nullptr, &size);
    if (rc == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ)
        rc = ERROR_INVALID_PARAMETER;
    if (rc == ERROR_SUCCESS) {
        std::string buffer(size, '\0');
        rc = RegQueryValueExA(handle, name.c_str(), nullptr, &type,
                              reinterpret_cast<LPBYTE>(buffer.data()), &size);
        if (rc == ERROR_SUCCESS) value.assign(buffer.c_str());
    }
    RegCloseKey(handle);
    return rc;
}

LSTATUS WriteString(const std::string& key, const std::string& name, const std::string& value) {
    HKEY handle;
    LSTATUS rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &handle, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExA(handle, name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
    return rc;
}

LSTATUS CreateKey(const std::string& key) {
    HKEY handle;
    LSTATUS rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &handle, nullptr);
    if (rc == ERROR_SUCCESS) RegCloseKey(handle);
    return rc;
}

LSTATUS DeleteTree(const std::string& key) {
    LSTATUS rc = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

LSTATUS DeleteIfEmpty(const std::string& key) {
    Path path;
    if (!SplitPath(key.c_str(), path) || path.empty()) return ERROR_INVALID_PARAMETER;
    return Modify([&](Key& root, bool& changed) -> DWORD {
        Key* target = Find(root, path);
        if (target != nullptr && target->values.empty() && target->subkeys.empty()) {
            Remove(root, path);
            changed = true;
        }
        return ERROR_SUCCESS;
    });
}

LSTATUS ListSubkeys(const std::string& key, std::vector<std::string>& names) {
    names.clear();
    Key root;
    if (LSTATUS rc = Load(root); rc != ERROR_SUCCESS) return rc;
    Path path;
    if (!SplitPath(key.c_str(), path)) return ERROR_INVALID_PARAMETER;
    const Key* found = Find(root, path);
    if (found == nullptr) return ERROR_FILE_NOT_FOUND;
    for (const auto& [name, child] : found->subkeys) names.push_back(name);
    return ERROR_SUCCESS;
}

}  // namespace talrec::registry
