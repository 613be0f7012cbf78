// Files and folders with the Win32 names: attributes, creation and deletion, enumeration,
// and the resolution of a path to its real location.
//
// Attributes follow what Windows reports, mapped from POSIX: a folder has
// FILE_ATTRIBUTE_DIRECTORY; an entry with no write permission bit for anyone has
// FILE_ATTRIBUTE_READONLY, and DeleteFileA refuses it with ERROR_ACCESS_DENIED whoever runs
// it (root included), as Windows does for a read-only file. A file that is held open through
// the platform's file layer (which locks it) cannot be deleted either: ERROR_SHARING_VIOLATION.
// Every call sets the thread's last error on failure.
#pragma once

#ifdef _WIN32
#include <string>

#include "platform/win32/sdk.h"

// The extension the Linux branch carries too: a path's real location and containment, for
// the rule on the paths scripts pass (platform/win32/paths.cpp).
namespace talrec::platform {
bool ResolvePath(const std::string& path, std::string& resolved);
bool PathIsInside(const std::string& path, const std::string& folder);
}  // namespace talrec::platform
#else
#include <string>

#include "platform/mbstring.h"
#include "platform/windef.h"

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;

// INVALID_FILE_ATTRIBUTES (last error set) when the path does not exist or cannot be read.
DWORD GetFileAttributesA(LPCSTR lpFileName);

// Creates one folder (its parent must exist). ERROR_ALREADY_EXISTS when it is there,
// ERROR_PATH_NOT_FOUND when the parent is missing. Security attributes are ignored.
BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);

// Deletes a file, never a folder (ERROR_ACCESS_DENIED), never a read-only file
// (ERROR_ACCESS_DENIED), never a file the platform's file layer holds open
// (ERROR_SHARING_VIOLATION).
BOOL DeleteFileA(LPCSTR lpFileName);

// Enumerates the entries of one folder whose names match the pattern's last component
// ("*" and "?" wildcards; "*.*" matches every name, as on Windows). "." and ".." are among
// the entries. The handle is closed with FindClose.
HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

namespace talrec::platform {

// The real location of a path, for checking where it lies: relative paths are taken from the
// current folder, "." and ".." and symbolic links are resolved for every part that exists,
// and the parts that do not exist yet are appended after removing "." and "..". Returns false
// when the path is empty or cannot be resolved.
bool ResolvePath(const std::string& path, std::string& resolved);

// True when `path` (already resolved) is `folder` (already resolved) or lies below it.
bool PathIsInside(const std::string& path, const std::string& folder);

}  // namespace talrec::platform

#endif  // _WIN32
