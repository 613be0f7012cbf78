// The Win32 registry calls over the registry file. Reads load the file whole (it is small);
// every change is one transaction of registry_file.cpp.
#include <cstring>
#include <functional>
#include <mutex>
#include <unordered_map>

#include "platform/registry/registry_file.h"
#include "platform/winreg.h"

using talrec::registry::Key;
using talrec::registry::Path;
using talrec::registry::Value;

namespace {

struct OpenKey {
    Path path;
    REGSAM access = 0;
};

// The process's open keys; guarded by g_mutex, any thread.
std::mutex g_mutex;
std::unordered_map<std::uintptr_t, OpenKey> g_handles;
std::uintptr_t g_nextHandle = 0x1000;

bool Resolve(HKEY key, OpenKey& out) {
    if (key == HKEY_CLASSES_ROOT) {
        out = OpenKey{{}, KEY_ALL_ACCESS};
        return true;
    }
    std::lock_guard lock(g_mutex);
    auto it = g_handles.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == g_handles.end()) return false;
    out = it->second;
    return true;
}

HKEY NewHandle(Path path, REGSAM access) {
    std::lock_guard lock(g_mutex);
    std::uintptr_t id = g_nextHandle;
    g_nextHandle += 4;
    g_handles.emplace(id, OpenKey{std::move(path), access});
    return reinterpret_cast<HKEY>(id);
}

Path Join(const Path& base, const Path& sub) {
    Path full = base;
    full.insert(full.end(), sub.begin(), sub.end());
    return full;
}

// An open key and a sub-key named below it.
struct SubKey {
    OpenKey base;
    Path full;          // the sub-key's path from the root
    bool self = false;  // the sub-key is the open key itself (an empty name)
};

// Resolves key plus subKey, without looking at the registry: ERROR_INVALID_HANDLE for a key
// that is not open, ERROR_INVALID_PARAMETER for a sub-key name that is not a path.
LSTATUS ResolveSubKey(HKEY key, LPCSTR subKey, SubKey& out) {
    if (!Resolve(key, out.base)) return ERROR_INVALID_HANDLE;
    Path sub;
    if (!talrec::registry::SplitPath(subKey, sub)) return ERROR_INVALID_PARAMETER;
    out.self = sub.empty();
    out.full = Join(out.base.path, sub);
    return ERROR_SUCCESS;
}

// Changes the existing sub-key `at` names in one transaction: ERROR_KEY_DELETED when the open
// key is gone, ERROR_FILE_NOT_FOUND when the sub-key is absent; else what `change` answers.
LSTATUS ModifyExisting(const SubKey& at,
                       const std::function<DWORD(Key& root, Key& target, bool& changed)>& change) {
    return talrec::registry::Modify([&](Key& root, bool& changed) -> DWORD {
        if (talrec::registry::Find(root, at.base.path) == nullptr) return ERROR_KEY_DELETED;
        Key* target = talrec::registry::Find(root, at.full);
        if (target == nullptr) return ERROR_FILE_NOT_FOUND;
        return change(root, *target, changed);
    });
}

// Reads the registry and finds an open key in it: ERROR_INVALID_HANDLE for a key that is not
// open, the read's failure, or ERROR_KEY_DELETED when the key is gone.
LSTATUS LoadOpenKey(HKEY key, Key& root, const Key*& found) {
    OpenKey base;
    if (!Resolve(key, base)) return ERROR_INVALID_HANDLE;
    if (LSTATUS rc = talrec::registry::Load(root); rc != ERROR_SUCCESS) return rc;
    found = talrec::registry::Find(root, base.path);
    return found != nullptr ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// Reads the registry and finds key plus subKey in it, `full` its path: ERROR_INVALID_HANDLE
// for a key that is not open, the read's failure, ERROR_INVALID_PARAMETER for a sub-key name
// that is not a path, ERROR_KEY_DELETED when the open key is gone, ERROR_FILE_NOT_FOUND when
// the sub-key is absent.
LSTATUS LoadSubKey(HKEY key, const char* subKey, Key& root, Path& full, const Key*& found) {
    OpenKey base;
    if (!Resolve(key, base)) return ERROR_INVALID_HANDLE;
    if (LSTATUS rc = talrec::registry::Load(root); rc != ERROR_SUCCESS) return rc;
    Path sub;
    if (!talrec::registry::SplitPath(subKey, sub)) return ERROR_INVALID_PARAMETER;
    if (talrec::registry::Find(root, base.path) == nullptr) return ERROR_KEY_DELETED;
    full = Join(base.path, sub);
    found = talrec::registry::Find(root, full);
    return found != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

Value MakeValue(DWORD type, const BYTE* data, DWORD size) {
    Value value;
    value.type = type;
    const char* bytes = reinterpret_cast<const char*>(data);
    if (bytes == nullptr) return value;  // no data: an empty value
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        value.data.assign(bytes, strnlen(bytes, size));
    } else {
        value.data.assign(bytes, size);
    }
    return value;
}

// Copies a value into a caller's buffer with the Win32 size rules.
LSTATUS CopyOut(const Value& value, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (type != nullptr) *type = value.type;
    bool text = value.type == REG_SZ || value.type == REG_EXPAND_SZ;
    DWORD needed = static_cast<DWORD>(value.data.size() + (text ? 1 : 0));
    if (size == nullptr) return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    DWORD room = *size;
    *size = needed;
    if (data == nullptr) return ERROR_SUCCESS;
    if (room < needed) return ERROR_MORE_DATA;
    std::memcpy(data, value.data.data(), value.data.size());
    if (text) data[value.data.size()] = 0;
    return ERROR_SUCCESS;
}

LSTATUS CopyName(const std::string& name, LPSTR out, LPDWORD size) {
    if (out == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
    if (*size <= name.size()) return ERROR_MORE_DATA;
    std::memcpy(out, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM desired,
                        const _SECURITY_ATTRIBUTES*, PHKEY result, LPDWORD disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    SubKey at;
    if (LSTATUS rc = ResolveSubKey(key, subKey, at); rc != ERROR_SUCCESS) return rc;
    if (!at.self && (at.base.access & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;

    // Most creations find the key there already; that needs no lock and no write.
    Key root;
    LSTATUS rc = talrec::registry::Load(root);
    if (rc != ERROR_SUCCESS && rc != ERROR_BADDB) return rc;
    bool created = false;
    if (rc == ERROR_SUCCESS && talrec::registry::Find(root, at.full) != nullptr &&
        talrec::registry::Find(root, at.base.path) != nullptr) {
        created = false;
    } else {
        rc = talrec::registry::Modify([&](Key& current, bool& changed) -> DWORD {
            if (talrec::registry::Find(current, at.base.path) == nullptr) return ERROR_KEY_DELETED;
            talrec::registry::Create(current, at.full, created);
            changed = created;
            return ERROR_SUCCESS;
        });
        if (rc != ERROR_SUCCESS) return rc;
    }
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(std::move(at.full), desired);
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    return RegCreateKeyExA(key, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, result, nullptr);
}

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM desired, PHKEY result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Key root;
    Path full;
    const Key* found;
    if (LSTATUS rc = LoadSubKey(key, subKey, root, full, found); rc != ERROR_SUCCESS) return rc;
    *result = NewHandle(std::move(full), desired);
    return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    return RegOpenKeyExA(key, subKey, 0, KEY_ALL_ACCESS, result);
}

LSTATUS RegCloseKey(HKEY key) {
    if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    std::lock_guard lock(g_mutex);
    return g_handles.erase(reinterpret_cast<std::uintptr_t>(key)) ? ERROR_SUCCESS
                                                                  : ERROR_INVALID_HANDLE;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD size) {
    OpenKey base;
    if (!Resolve(key, base)) return ERROR_INVALID_HANDLE;
    if ((base.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    if (data == nullptr && size > 0) return ERROR_INVALID_PARAMETER;
    if (type == REG_DWORD && size != 4) return ERROR_INVALID_PARAMETER;
    Value value = MakeValue(type, data, size);
    std::string name = valueName != nullptr ? valueName : "";
    return talrec::registry::Modify([&](Key& root, bool& changed) -> DWORD {
        Key* target = talrec::registry::Find(root, base.path);
        if (target == nullptr) return ERROR_KEY_DELETED;
        auto it = target->values.find(name);
        if (it != target->values.end() && it->second == value) return ERROR_SUCCESS;
        target->values[name] = value;
        changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
    Key root;
    const Key* found;
    if (LSTATUS rc = LoadOpenKey(key, root, found); rc != ERROR_SUCCESS) return rc;
    auto it = found->values.find(std::string_view(valueName != nullptr ? valueName : ""));
    if (it == found->values.end()) return ERROR_FILE_NOT_FOUND;
    return CopyOut(it->second, type, data, size);
}

LSTATUS RegSetValueA(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD) {
    if (type != REG_SZ || data == nullptr) return ERROR_INVALID_PARAMETER;
    SubKey at;
    if (LSTATUS rc = ResolveSubKey(key, subKey, at); rc != ERROR_SUCCESS) return rc;
    if ((at.base.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    Value value{REG_SZ, data};
    return talrec::registry::Modify([&](Key& root, bool& changed) -> DWORD {
        if (talrec::registry::Find(root, at.base.path) == nullptr) return ERROR_KEY_DELETED;
        bool created;
        Key* target = talrec::registry::Create(root, at.full, created);
        auto it = target->values.find(std::string_view());
        if (!created && it != target->values.end() && it->second == value) return ERROR_SUCCESS;
        target->values[""] = value;
        changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, LONG* size) {
    Key root;
    Path full;
    const Key* found;
    if (LSTATUS rc = LoadSubKey(key, subKey, root, full, found); rc != ERROR_SUCCESS) return rc;
    Value text{REG_SZ, ""};
    if (auto it = found->values.find(std::string_view()); it != found->values.end()) {
        if (it->second.type != REG_SZ && it->second.type != REG_EXPAND_SZ)
            return ERROR_INVALID_PARAMETER;
        text = it->second;
    }
    if (size == nullptr) return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    DWORD room = *size < 0 ? 0 : static_cast<DWORD>(*size);
    LSTATUS rc = CopyOut(text, nullptr, reinterpret_cast<LPBYTE>(data), &room);
    *size = static_cast<LONG>(room);
    return rc;
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
    OpenKey base;
    if (!Resolve(key, base)) return ERROR_INVALID_HANDLE;
    if ((base.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    std::string name = valueName != nullptr ? valueName : "";
    return talrec::registry::Modify([&](Key& root, bool& changed) -> DWORD {
        Key* target = talrec::registry::Find(root, base.path);
        if (target == nullptr) return ERROR_KEY_DELETED;
        if (target->values.erase(name) == 0) return ERROR_FILE_NOT_FOUND;
        changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    if (subKey == nullptr || *subKey == '\0') return ERROR_INVALID_PARAMETER;
    SubKey at;
    if (LSTATUS rc = ResolveSubKey(key, subKey, at); rc != ERROR_SUCCESS) return rc;
    return ModifyExisting(at, [&](Key& root, Key& target, bool& changed) -> DWORD {
        if (!target.subkeys.empty()) return ERROR_ACCESS_DENIED;
        talrec::registry::Remove(root, at.full);
        changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteTreeA(HKEY key, LPCSTR subKey) {
    SubKey at;
    if (LSTATUS rc = ResolveSubKey(key, subKey, at); rc != ERROR_SUCCESS) return rc;
    return ModifyExisting(at, [&](Key& root, Key& target, bool& changed) -> DWORD {
        if (at.self) {
            changed = !target.values.empty() || !target.subkeys.empty();
            target.values.clear();
            target.subkeys.clear();
        } else {
            talrec::registry::Remove(root, at.full);
            changed = true;
        }
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD, LPSTR keyClass,
                      LPDWORD classSize, _FILETIME*) {
    Key root;
    const Key* found;
    if (LSTATUS rc = LoadOpenKey(key, root, found); rc != ERROR_SUCCESS) return rc;
    if (index >= found->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = found->subkeys.begin();
    std::advance(it, index);
    if (keyClass != nullptr && classSize != nullptr && *classSize > 0) {
        keyClass[0] = '\0';
        *classSize = 0;
    }
    return CopyName(it->first, name, nameSize);
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    Key root;
    const Key* found;
    if (LSTATUS rc = LoadOpenKey(key, root, found); rc != ERROR_SUCCESS) return rc;
    if (index >= found->values.size()) return ERROR_NO_MORE_ITEMS;
    auto it = found->values.begin();
    std::advance(it, index);
    if (LSTATUS rc = CopyName(it->first, valueName, valueNameSize); rc != ERROR_SUCCESS) return rc;
    return CopyOut(it->second, type, data, dataSize);
}
