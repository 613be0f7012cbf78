// Where a path really lies, on Windows: made absolute with "." and ".." removed
// (GetFullPathNameA), then its longest existing part replaced by the system's final name for
// it (GetFinalPathNameByHandleA, which follows symbolic links and junctions and gives the
// names' stored case), and the parts that do not exist yet appended as given. Names compare
// without regard to case, as the file system does.
#include "platform/ext/paths.h"

#include <string>

#include "platform/fileapi.h"
#include "platform/mbstring.h"

namespace talrec::platform {
namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// "C:\" or "\\server\share\": what may not lose its last separator.
std::size_t RootLength(const std::string& path) {
    if (path.size() >= 3 && path[1] == ':' && IsSeparator(path[2])) return 3;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        std::size_t server = path.find_first_of("\\/", 2);
        if (server == std::string::npos) return path.size();
        std::size_t share = path.find_first_of("\\/", server + 1);
        return share == std::string::npos ? path.size() : share + 1;
    }
    return 0;
}

// The final name of an existing file or folder, without the "\\?\" prefix; empty on failure.
std::string FinalName(const std::string& existing) {
    HANDLE handle =
        CreateFileA(existing.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    char buffer[MAX_PATH * 4];
    DWORD length = GetFinalPathNameByHandleA(handle, buffer, sizeof buffer,
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    if (length == 0 || length >= sizeof buffer) return {};
    std::string name(buffer, length);
    if (name.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + name.substr(8);
    if (name.rfind("\\\\?\\", 0) == 0) return name.substr(4);
    return name;
}

bool SameIgnoringCase(const char* a, const char* b, std::size_t length) {
    return _mbsnbicmp(reinterpret_cast<const unsigned char*>(a),
                      reinterpret_cast<const unsigned char*>(b), length) == 0;
}

}  // namespace

bool ResolvePath(const std::string& path, std::string& resolved) {
    if (path.empty()) return false;
    char buffer[MAX_PATH * 4];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    if (length == 0 || length >= sizeof buffer) return false;
    std::string full(buffer, length);
    const std::size_t root = RootLength(full);
    if (root == 0) return false;
    while (full.size() > root && IsSeparator(full.back())) full.pop_back();

    // The longest part that exists, and the names that follow it.
    std::string existing = full, rest;
    while (existing.size() > root &&
           GetFileAttributesA(existing.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::size_t cut = existing.find_last_of("\\/");
        std::size_t name = cut == std::string::npos || cut < root ? root : cut + 1;
        rest = "\\" + existing.substr(name) + rest;
        existing.erase(name > root ? name - 1 : root);
    }
    std::string final = FinalName(existing);
    if (final.empty()) final = existing;
    while (final.size() > RootLength(final) && IsSeparator(final.back())) final.pop_back();
    if (!final.empty() && IsSeparator(final.back()) && !rest.empty()) rest.erase(0, 1);
    resolved = final + rest;
    return true;
}

bool PathIsInside(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.size() < folder.size()) return false;
    if (!SameIgnoringCase(path.c_str(), folder.c_str(), folder.size())) return false;
    return path.size() == folder.size() || IsSeparator(folder.back()) ||
           IsSeparator(path[folder.size()]);
}

}  // namespace talrec::platform
