#include "platform/fileapi.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/ext/paths.h"
#include "platform/kernel/file_internal.h"
#include "platform/kernel/lasterror.h"

namespace talrec::kernel {

DWORD AttributesOf(const struct stat& st, const char* name, const struct stat* target) {
    DWORD attributes = 0;
    if (S_ISLNK(st.st_mode)) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        if (target != nullptr && S_ISDIR(target->st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    } else {
        if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            attributes |= FILE_ATTRIBUTE_READONLY;
        }
    }
    if (name != nullptr && name[0] == '.' && std::strcmp(name, ".") != 0 &&
        std::strcmp(name, "..") != 0) {
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    }
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    return attributes;
}

}  // namespace talrec::kernel

namespace {

using talrec::kernel::AttributesOf;

const char* LastComponent(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

// One enumeration in progress: the folder's entries are read at FindFirstFileA, so that
// FindNextFileA reports a stable list even while the caller deletes entries.
struct FindState {
    std::string folder;
    std::vector<std::string> names;
    std::size_t next = 0;
};

bool Matches(const std::string& pattern, const char* name) {
    if (pattern == "*.*" || pattern == "*") return true;
    return fnmatch(pattern.c_str(), name, 0) == 0;
}

bool Fill(const FindState& state, const std::string& name, WIN32_FIND_DATAA* data) {
    std::string full = state.folder + "/" + name;
    struct stat st {};
    if (lstat(full.c_str(), &st) != 0) return false;
    if (name.size() >= MAX_PATH) return false;
    struct stat target {};
    const bool pointsSomewhere = S_ISLNK(st.st_mode) && stat(full.c_str(), &target) == 0;
    std::memset(data, 0, sizeof(*data));
    data->dwFileAttributes = AttributesOf(st, name.c_str(), pointsSomewhere ? &target : nullptr);
    auto size = static_cast<unsigned long long>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    std::memcpy(data->cFileName, name.c_str(), name.size() + 1);
    return true;
}

bool FindNextEntry(FindState* state, WIN32_FIND_DATAA* data) {
    while (state->next < state->names.size()) {
        const std::string& name = state->names[state->next++];
        if (Fill(*state, name, data)) return true;  // entries removed meanwhile are passed over
    }
    return false;
}

}  // namespace

DWORD GetFileAttributesA(LPCSTR lpFileName) {
    if (lpFileName == nullptr || *lpFileName == '\0') {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat st {};
    if (stat(lpFileName, &st) != 0) {
        SetLastError(errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(st, LastComponent(lpFileName));
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    if (lpPathName == nullptr || *lpPathName == '\0') return Fail(ERROR_PATH_NOT_FOUND);
    if (mkdir(lpPathName, 0700) == 0) return TRUE;
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
    return Fail(Win32ErrorFromErrno(err));
}

BOOL DeleteFileA(LPCSTR lpFileName) {
    if (lpFileName == nullptr || *lpFileName == '\0') return Fail(ERROR_FILE_NOT_FOUND);
    // From a confined thread the entry is reached inside the folders it may use.
    talrec::kernel::PathAt at;
    if (!at.Locate(lpFileName, false)) return FALSE;
    auto remove = [&at] {
        return unlinkat(at.dir(), at.name(), 0) == 0 ? TRUE : Fail(Win32ErrorFromErrno(errno));
    };
    struct stat st {};
    if (fstatat(at.dir(), at.name(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return Fail(errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
    }
    if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (S_ISLNK(st.st_mode)) {
        // A link to a folder is a folder; nothing holds a link itself open.
        struct stat target {};
        if (fstatat(at.dir(), at.name(), &target, 0) == 0 && S_ISDIR(target.st_mode)) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        return remove();
    }
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return Fail(ERROR_ACCESS_DENIED);
    if (!S_ISREG(st.st_mode)) return remove();
    // As Windows does, the file is opened for deletion: that fails while a handle that does
    // not share deletion holds it. The name goes while no one can open the file meanwhile.
    constexpr int kProbe = O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
    int fd = openat(at.dir(), at.name(), O_RDONLY | kProbe);
    if (fd < 0 && errno == EACCES) fd = openat(at.dir(), at.name(), O_WRONLY | kProbe);
    if (fd < 0) return remove();
    BOOL result = TRUE;
    {
        const talrec::kernel::ShareLock lock(fd);
        if (!lock.ok() || lock.Conflicts(talrec::kernel::kDelete,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
            result = Fail(ERROR_SHARING_VIOLATION);
        } else {
            result = remove();
        }
    }
    close(fd);
    return result;
}

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    if (lpFileName == nullptr || lpFindFileData == nullptr || *lpFileName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path(lpFileName);
    std::size_t slash = path.rfind('/');
    auto state = std::make_unique<FindState>();
    std::string pattern;
    if (slash == std::string::npos) {
        state->folder = ".";
        pattern = path;
    } else {
        state->folder = slash == 0 ? "/" : path.substr(0, slash);
        pattern = path.substr(slash + 1);
    }
    DIR* dir = opendir(state->folder.c_str());
    if (dir == nullptr) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                         : Win32ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    while (dirent* entry = readdir(dir)) {
        if (Matches(pattern, entry->d_name)) state->names.emplace_back(entry->d_name);
    }
    closedir(dir);
    if (!FindNextEntry(state.get(), lpFindFileData)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return state.release();
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    if (hFindFile == nullptr || hFindFile == INVALID_HANDLE_VALUE || lpFindFileData == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!FindNextEntry(static_cast<FindState*>(hFindFile), lpFindFileData)) {
        return Fail(ERROR_NO_MORE_FILES);
    }
    return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
    if (hFindFile == nullptr || hFindFile == INVALID_HANDLE_VALUE)
        return Fail(ERROR_INVALID_HANDLE);
    delete static_cast<FindState*>(hFindFile);
    return TRUE;
}

namespace talrec::platform {

bool ResolvePath(const std::string& path, std::string& resolved) {
    if (path.empty()) return false;
    std::string head = path;
    if (head[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == nullptr) return false;
        head = std::string(cwd) + "/" + head;
    }
    while (head.size() > 1 && head.back() == '/') head.pop_back();
    // Resolve the longest leading part that exists, as the system will when the path is
    // opened. The rest does not exist yet; a "." or ".." in it cannot be resolved the way the
    // system would, so such a path is refused.
    std::string tail;
    for (;;) {
        char real[PATH_MAX];
        if (realpath(head.c_str(), real) != nullptr) {
            resolved = real;
            if (!tail.empty()) resolved += (resolved == "/" ? "" : "/") + tail;
            return true;
        }
        if (errno != ENOENT || head == "/") return false;
        // A symbolic link that points nowhere exists: what opening it creates lies wherever
        // it points, so its name says nothing about where the file would be.
        struct stat st {};
        if (lstat(head.c_str(), &st) == 0) return false;
        std::size_t slash = head.rfind('/');
        std::string last = head.substr(slash + 1);
        if (last == "." || last == "..") return false;
        if (!last.empty()) tail = tail.empty() ? last : last + "/" + tail;
        head = slash == 0 ? "/" : head.substr(0, slash);
    }
}

bool PathIsInside(const std::string& path, const std::string& folder) {
    if (folder.empty()) return false;
    if (folder == "/") return !path.empty() && path[0] == '/';
    if (path.compare(0, folder.size(), folder) != 0) return false;
    return path.size() == folder.size() || path[folder.size()] == '/';
}

}  // namespace talrec::platform
