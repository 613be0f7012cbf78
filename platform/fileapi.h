// Files and folders with the Win32 names: opening, reading and writing files through handles,
// attributes, creation and deletion, enumeration, and the resolution of a path to its real
// location.
//
// Attributes follow what Windows reports, mapped from POSIX: a folder, or a symbolic link to
// one, has FILE_ATTRIBUTE_DIRECTORY; an entry with no write permission bit for anyone has
// FILE_ATTRIBUTE_READONLY, and DeleteFileA refuses it with ERROR_ACCESS_DENIED whoever runs
// it (root included), as Windows does for a read-only file.
//
// CreateFileA opens regular files only: a folder, a named pipe, a socket or a device is
// refused at once with ERROR_ACCESS_DENIED, never opened and never waited on. A file without
// write bits cannot be opened for writing (ERROR_ACCESS_DENIED), whoever runs the program.
//
// Share modes bind every handle that CreateFileA opens, in this process and in every other
// process that uses this platform: a handle that does not grant FILE_SHARE_READ, _WRITE or
// _DELETE keeps others from opening the file for that access (and from deleting it), and an
// open that would deny an access another handle already has fails. Both fail with
// ERROR_SHARING_VIOLATION. The claims are open-file-description locks on bytes far beyond any
// file's end, so they bind only programs that use them, not programs that ignore locks; a
// child process that inherits a descriptor without exec keeps its claims while it lives. On a
// file system without such locks the share modes bind nothing.
//
// Every call sets the thread's last error on failure.
#pragma once

#ifdef _WIN32
#include <string>
#include <vector>

#include "platform/win32/sdk.h"

// The extension the Linux branch carries too: a path's real location and containment, for
// the rule on the paths scripts pass (platform/win32/paths.cpp).
namespace talrec::platform {
bool ResolvePath(const std::string& path, std::string& resolved);
bool PathIsInside(const std::string& path, const std::string& folder);
inline std::string OpenFileName(HANDLE) {
    return {};
}
// Confines nothing yet on Windows: paths are opened as given.
class PathConfinement {
  public:
    explicit PathConfinement(std::vector<std::string>) {}
    PathConfinement(const PathConfinement&) = delete;
    PathConfinement& operator=(const PathConfinement&) = delete;
    static bool Active() { return false; }
};
}  // namespace talrec::platform
#else
#include <string>
#include <vector>

#include "platform/mbstring.h"
#include "platform/windef.h"

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x00000400;  // a symbolic link
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// Access rights of CreateFileA; other rights are taken as none.
inline constexpr DWORD DELETE = 0x00010000;
inline constexpr DWORD GENERIC_ALL = 0x10000000;  // read and write
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD GENERIC_READ = 0x80000000;

inline constexpr DWORD FILE_SHARE_READ = 0x00000001;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
inline constexpr DWORD FILE_SHARE_DELETE = 0x00000004;

// Creation dispositions.
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;

// Move methods of SetFilePointer.
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;

inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
// Overlapped I/O is not supported: every call that takes one needs null.
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;  // the file system's device number
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;  // the inode number: with the volume, the file's identity
    DWORD nFileIndexLow;
};
using LPBY_HANDLE_FILE_INFORMATION = BY_HANDLE_FILE_INFORMATION*;

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

// Opens or creates a regular file. dwDesiredAccess: GENERIC_READ, GENERIC_WRITE, DELETE, or 0
// for a handle that only queries the file. Failures: ERROR_FILE_NOT_FOUND (no such file),
// ERROR_PATH_NOT_FOUND (a folder on the way is missing, or the name is empty),
// ERROR_FILE_EXISTS (CREATE_NEW on an existing file), ERROR_ACCESS_DENIED (not a regular
// file; no write bits for a write or a truncation; the system refuses),
// ERROR_SHARING_VIOLATION (see the share modes above), ERROR_INVALID_PARAMETER (bad flags).
// CREATE_ALWAYS and TRUNCATE_EXISTING empty the file only once the share modes allow the
// open. On success the last error is ERROR_ALREADY_EXISTS when CREATE_ALWAYS or OPEN_ALWAYS
// found the file, ERROR_SUCCESS otherwise. A file it creates is its owner's alone (0600), as
// a file made with default security in a user's profile is; with FILE_ATTRIBUTE_READONLY in
// dwFlagsAndAttributes it has no write bits (0400). A file that exists keeps its mode. The
// other flags, the security attributes and the template are ignored. The handle is closed with
// CloseHandle and may be used from any thread.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);

// Reads up to nNumberOfBytesToRead bytes at the file pointer; fewer only at the end of the
// file (0 there, with TRUE). ERROR_ACCESS_DENIED without GENERIC_READ.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
// Writes all bytes at the file pointer, or fails (ERROR_DISK_FULL for a full disk) with the
// count of those written. ERROR_ACCESS_DENIED without GENERIC_WRITE.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);

// Moves the file pointer (FILE_BEGIN, FILE_CURRENT, FILE_END). A position before the start
// fails with ERROR_NEGATIVE_SEEK. SetFilePointer returns the low 32 bits of the new position
// (the high ones in *lpDistanceToMoveHigh) or INVALID_SET_FILE_POINTER with the last error
// set; a position that is really 0xFFFFFFFF leaves ERROR_SUCCESS.
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                     DWORD dwMoveMethod);
BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod);

// The file's size; GetFileSize as SetFilePointer with INVALID_FILE_SIZE.
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);

// Cuts or extends the file to the file pointer. Needs GENERIC_WRITE.
BOOL SetEndOfFile(HANDLE hFile);
// Writes the file's data through to the disk. Needs GENERIC_WRITE.
BOOL FlushFileBuffers(HANDLE hFile);

// Attributes, times, size, link count and identity of an open file: two handles are of the
// same file when their volume serial numbers and file indexes are equal.
BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation);

// INVALID_FILE_ATTRIBUTES (last error set) when the path does not exist or cannot be read.
// A symbolic link reports what it points to.
DWORD GetFileAttributesA(LPCSTR lpFileName);

// Creates one folder (its parent must exist), its owner's alone (0700). ERROR_ALREADY_EXISTS
// when it is there (its mode is left), ERROR_PATH_NOT_FOUND when the parent is missing.
// Security attributes are ignored.
BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);

// Deletes a file, never a folder or a symbolic link to one (ERROR_ACCESS_DENIED), never a
// read-only file (ERROR_ACCESS_DENIED), never a file that a handle not granting
// FILE_SHARE_DELETE holds open, in this process or another (ERROR_SHARING_VIOLATION). A
// symbolic link to a file is deleted itself, not what it points to.
BOOL DeleteFileA(LPCSTR lpFileName);

// Enumerates the entries of one folder whose names match the pattern's last component
// ("*" and "?" wildcards; "*.*" matches every name, as on Windows). "." and ".." are among
// the entries. A symbolic link has FILE_ATTRIBUTE_REPARSE_POINT, and FILE_ATTRIBUTE_DIRECTORY
// when it points to a folder. The handle is closed with FindClose.
HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

namespace talrec::platform {

// The real location of a path, for checking where it lies: relative paths are taken from the
// current folder, "." and ".." and symbolic links are resolved for every part that exists,
// and the parts that do not exist yet are appended after removing "." and "..". Returns false
// when the path is empty or cannot be resolved, or when a part is a symbolic link that points
// nowhere (opening it would create a file wherever it points).
bool ResolvePath(const std::string& path, std::string& resolved);

// True when `path` (already resolved) is `folder` (already resolved) or lies below it.
bool PathIsInside(const std::string& path, const std::string& folder);

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

}  // namespace talrec::platform

#endif  // _WIN32
