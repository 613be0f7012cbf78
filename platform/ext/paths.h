// What the platform knows of paths beyond the published calls: where a path really lies, for
// the rule on the paths scripts pass, and how the file of a loadable module ends. Both
// targets have these (on Windows platform/win32/paths.cpp).
#pragma once

#include <string>

namespace talrec::platform {

// The real location of a path, for checking where it lies: relative paths are taken from the
// current folder, "." and ".." and symbolic links are resolved for every part that exists,
// and the parts that do not exist yet are appended after removing "." and "..". Returns false
// when the path is empty or cannot be resolved, or when a part is a symbolic link that points
// nowhere (opening it would create a file wherever it points).
bool ResolvePath(const std::string& path, std::string& resolved);

// True when `path` (already resolved) is `folder` (already resolved) or lies below it.
bool PathIsInside(const std::string& path, const std::string& folder);

}  // namespace talrec::platform

// How the file of a loadable module ends (LoadLibraryA's files).
#ifdef _WIN32
inline constexpr char MODULE_FILE_EXTENSION[] = ".dll";
#else
inline constexpr char MODULE_FILE_EXTENSION[] = ".so";
#endif
