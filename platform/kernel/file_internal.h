// Pieces the kernel's file calls share: attributes from a file's status, and the share-mode
// claims that CreateFileA records and DeleteFileA checks.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <mutex>
#include <string>

#include "platform/fileapi.h"

namespace talrec::kernel {

// The Win32 attributes of an entry with this status and name (the name decides "hidden";
// null for none). A symbolic link's status gives FILE_ATTRIBUTE_REPARSE_POINT, and the
// directory attribute when `target` (the status it points to, or null) is a folder.
DWORD AttributesOf(const struct stat& st, const char* name, const struct stat* target = nullptr);

// The access rights and share modes that handles claim on a file, as bits.
inline constexpr DWORD kRead = 1;    // GENERIC_READ, FILE_SHARE_READ
inline constexpr DWORD kWrite = 2;   // GENERIC_WRITE, FILE_SHARE_WRITE
inline constexpr DWORD kDelete = 4;  // DELETE, FILE_SHARE_DELETE

// While it lives, no other opener of the file that `fd` has open checks or changes the claims
// on it: openers in this process wait for the lock; those in other processes find the file
// locked (flock) and retry for up to about a second. Then ok() is false, and the caller fails
// with ERROR_SHARING_VIOLATION.
class ShareLock {
  public:
    explicit ShareLock(int fd);
    ~ShareLock();
    ShareLock(const ShareLock&) = delete;
    ShareLock& operator=(const ShareLock&) = delete;

    bool ok() const { return ok_; }
    // True when a handle with these access bits and share bits could not be opened beside
    // the handles that others hold: it wants an access one of them denies, or denies an
    // access one of them has.
    bool Conflicts(DWORD access, DWORD share) const;
    // Records the access and share bits of a new handle on `fd`, for as long as `fd` stays
    // open. `fdMode` is the descriptor's O_ACCMODE. False when the claims cannot be recorded.
    bool Claim(DWORD access, DWORD share, int fdMode) const;

  private:
    int fd_;
    std::unique_lock<std::mutex> process_;
    bool flocked_ = false;
    bool ok_ = false;
};

// Where CreateFileA and DeleteFileA reach the entry that a path names. On a thread without a
// PathConfinement: the path itself, from the current folder (dir() is AT_FDCWD, confined()
// false). On a confined thread: the folder that holds the entry, reached as PathConfinement
// says, and the entry's name in it; the entry itself must be reached without following a
// link (O_NOFOLLOW, AT_SYMLINK_NOFOLLOW). `followLast`: the path's last part is resolved too.
class PathAt {
  public:
    PathAt() = default;
    ~PathAt();
    PathAt(const PathAt&) = delete;
    PathAt& operator=(const PathAt&) = delete;

    // False with the last error set when the path may not or cannot be reached.
    bool Locate(const char* path, bool followLast);
    int dir() const { return dir_; }
    const char* name() const { return name_.c_str(); }
    bool confined() const { return confined_; }

  private:
    int dir_ = AT_FDCWD;
    std::string name_;
    bool confined_ = false;
};

// The descriptor behind a file handle of CreateFileA, for platform services that write a file
// the handle opened (the spool's WAV file) or name it; -1 when the handle is not an open file.
// Valid while the handle is open.
int DescriptorOf(HANDLE file);

// The user's home folder ($HOME when absolute, else the password database's), or empty.
std::string HomeFolder();

}  // namespace talrec::kernel
