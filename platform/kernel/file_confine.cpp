// Confined file calls: a thread's PathConfinement, and how CreateFileA and DeleteFileA reach a
// path under it (from the folder it lies in, part by part, never through a link).
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/ext/paths.h"
#include "platform/kernel/file_internal.h"

namespace {

// The folders of the thread's innermost confinement, or null.
thread_local const std::vector<std::string>* t_folders = nullptr;

bool Fail(DWORD code) {
    SetLastError(code);
    return false;
}

}  // namespace

namespace talrec::platform {

PathConfinement::PathConfinement(std::vector<std::string> folders)
    : folders_(std::move(folders)), outer_(t_folders) {
    t_folders = &folders_;
}

PathConfinement::~PathConfinement() {
    t_folders = outer_;
}

bool PathConfinement::Active() {
    return t_folders != nullptr;
}

}  // namespace talrec::platform

namespace talrec::kernel {

PathAt::~PathAt() {
    if (dir_ >= 0) ::close(dir_);
}

bool PathAt::Locate(const char* path, bool followLast) {
    confined_ = t_folders != nullptr;
    if (!confined_) {
        name_ = path;
        return true;
    }
    // Where the path lies now. A link as the last part is deleted itself, so for a deletion
    // only the folders above it are resolved.
    std::string resolved;
    if (followLast) {
        if (!platform::ResolvePath(path, resolved)) return Fail(ERROR_ACCESS_DENIED);
    } else {
        std::string folder = path;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        const std::size_t slash = folder.rfind('/');
        const std::string last = folder.substr(slash == std::string::npos ? 0 : slash + 1);
        folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
        if (last.empty() || last == "." || last == ".." ||
            !platform::ResolvePath(folder, resolved)) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        resolved += (resolved == "/" ? "" : "/") + last;
    }
    const std::string* root = nullptr;
    for (const std::string& folder : *t_folders) {
        if (folder != resolved && platform::PathIsInside(resolved, folder)) root = &folder;
    }
    if (root == nullptr) return Fail(ERROR_ACCESS_DENIED);

    // From the folder down: every part but the last must be a folder, not a link to one.
    dir_ = ::open(root->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir_ < 0) return Fail(ERROR_PATH_NOT_FOUND);
    std::size_t at = root->size() == 1 ? 1 : root->size() + 1;
    for (std::size_t slash; (slash = resolved.find('/', at)) != std::string::npos; at = slash + 1) {
        const std::string part = resolved.substr(at, slash - at);
        const int next =
            ::openat(dir_, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(dir_);
        dir_ = next;
        if (dir_ < 0) return Fail(ERROR_PATH_NOT_FOUND);
    }
    name_ = resolved.substr(at);
    return true;
}

}  // namespace talrec::kernel
