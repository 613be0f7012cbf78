// What the platform knows of paths beyond the published calls: where a path really lies, for
// the rule on the paths scripts pass, and how the file of a loadable module ends. Both
// targets have these (on Windows platform/win32/paths.cpp).
#pragma once

#include <string>
#include <vector>

#include "platform/windef.h"

namespace talrec::platform {

// The real location of a path, for checking where it lies: relative paths are taken from the
// current folder, "." and ".." and symbolic links are resolved for every part that exists,
// and the parts that do not exist yet are appended after removing "." and "..". Returns false
// when the path is empty or cannot be resolved, or when a part is a symbolic link that points
// nowhere (opening it would create a file wherever it points).
bool ResolvePath(const std::string& path, std::string& resolved);

// True when `path` (already resolved) is `folder` (already resolved) or lies below it.
bool PathIsInside(const std::string& path, const std::string& folder);

#ifdef _WIN32
// Windows opens the paths as given: a file's name is its path, and no thread is confined.
inline std::string OpenFileName(HANDLE) {
    return {};
}
class PathConfinement {
  public:
    explicit PathConfinement(std::vector<std::string>) {}
    PathConfinement(const PathConfinement&) = delete;
    PathConfinement& operator=(const PathConfinement&) = delete;
    static bool Active() { return false; }
};
#else
// A name by which the file that `file` (a handle of CreateFileA) holds is opened again, the
// same file whatever has become of its path meanwhile, for a component that opens its files
// by name; valid while the handle is open. Empty when the system has no such name.
std::string OpenFileName(HANDLE file);

// While it lives, CreateFileA and DeleteFileA on the constructing thread reach only entries
// inside one of `folders` (resolved, as ResolvePath gives them), however the path's parts
// change meanwhile: a path is resolved at the call (for DeleteFileA all but its last part, as
// a link is deleted itself), and what it resolves to is then reached from its folder part by
// part without following symbolic links. A path that resolves elsewhere (or to a folder
// itself) fails with ERROR_ACCESS_DENIED; a part replaced by a link after the resolution
// fails with ERROR_PATH_NOT_FOUND, or ERROR_ACCESS_DENIED when it is the last part. Other
// threads are not confined. Confinements nest: the innermost holds.
class PathConfinement {
  public:
    explicit PathConfinement(std::vector<std::string> folders);
    ~PathConfinement();
    PathConfinement(const PathConfinement&) = delete;
    PathConfinement& operator=(const PathConfinement&) = delete;

    // Whether the calling thread is confined.
    static bool Active();

  private:
    std::vector<std::string> folders_;
    const std::vector<std::string>* outer_;
};
#endif

}  // namespace talrec::platform

// How the file of a loadable module ends (LoadLibraryA's files).
#ifdef _WIN32
inline constexpr char MODULE_FILE_EXTENSION[] = ".dll";
#else
inline constexpr char MODULE_FILE_EXTENSION[] = ".so";
#endif
