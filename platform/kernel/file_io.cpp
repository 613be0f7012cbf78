// File handles: CreateFileA over open(2), with the Win32 dispositions, access checks and share
// modes, and the calls on an open handle. Handles are keys into a table, never pointers: a
// stale or foreign handle is looked up and refused, not dereferenced.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/ext/paths.h"
#include "platform/handleapi.h"
#include "platform/kernel/file_internal.h"
#include "platform/kernel/lasterror.h"

namespace {

using talrec::kernel::kDelete;
using talrec::kernel::kRead;
using talrec::kernel::kWrite;

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// One open file. The descriptor is closed with the last reference, so that a call running on
// another thread finishes before CloseHandle's close takes effect.
struct OpenFile {
    int fd = -1;
    DWORD access = 0;  // kRead | kWrite | kDelete
    ~OpenFile() {
        if (fd >= 0) ::close(fd);
    }
};

std::mutex g_tableLock;
std::unordered_map<std::uintptr_t, std::shared_ptr<OpenFile>> g_table;  // guarded
std::uintptr_t g_nextHandle = 0x100;  // guarded; multiples of 4, as Windows gives them

HANDLE Register(std::shared_ptr<OpenFile> file) {
    std::lock_guard lock(g_tableLock);
    const std::uintptr_t value = g_nextHandle;
    g_nextHandle += 4;
    g_table.emplace(value, std::move(file));
    return reinterpret_cast<HANDLE>(value);
}

// The open file of a handle; null with ERROR_INVALID_HANDLE when there is none.
std::shared_ptr<OpenFile> Lookup(HANDLE handle) {
    std::lock_guard lock(g_tableLock);
    const auto found = g_table.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == g_table.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return found->second;
}

}  // namespace

int talrec::kernel::DescriptorOf(HANDLE file) {
    std::lock_guard lock(g_tableLock);
    const auto found = g_table.find(reinterpret_cast<std::uintptr_t>(file));
    return found == g_table.end() ? -1 : found->second->fd;
}

std::string talrec::platform::OpenFileName(HANDLE file) {
    const int fd = talrec::kernel::DescriptorOf(file);
    if (fd < 0) return {};
    // The process's own view of its descriptors, where /proc is there to give it.
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    struct stat byName {};
    struct stat byFd {};
    if (::stat(name.c_str(), &byName) != 0 || ::fstat(fd, &byFd) != 0 ||
        byName.st_dev != byFd.st_dev || byName.st_ino != byFd.st_ino) {
        return {};
    }
    return name;
}

namespace {

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

// No open file, for `code`.
std::shared_ptr<OpenFile> Refuse(DWORD code) {
    SetLastError(code);
    return nullptr;
}

// The open file of a handle that has `access`; null with the last error set otherwise.
std::shared_ptr<OpenFile> LookupFor(HANDLE handle, DWORD access) {
    std::shared_ptr<OpenFile> file = Lookup(handle);
    if (file && (file->access & access) != access) return Refuse(ERROR_ACCESS_DENIED);
    return file;
}

// The checks ReadFile and WriteFile share: the count done is 0 until the transfer says
// otherwise, no overlapped transfer, a handle with `access`, and a buffer for any bytes. The
// open file, or null with the last error set.
std::shared_ptr<OpenFile> BeginTransfer(HANDLE handle, DWORD access, const void* buffer,
                                        DWORD bytes, LPDWORD done, LPOVERLAPPED overlapped) {
    if (done != nullptr) *done = 0;
    if (overlapped != nullptr) return Refuse(ERROR_INVALID_PARAMETER);
    std::shared_ptr<OpenFile> file = LookupFor(handle, access);
    if (file && buffer == nullptr && bytes != 0) return Refuse(ERROR_INVALID_PARAMETER);
    return file;
}

// Moves up to `bytes` bytes with `step` (a read or write of the bytes from offset `at` on),
// again after an interruption, until all are moved or a step moves none or fails: the count
// moved and the failed step's errno (0 when none failed).
template <class Step>
std::pair<DWORD, int> Transfer(DWORD bytes, Step step) {
    DWORD done = 0;
    while (done < bytes) {
        const ssize_t n = step(done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return {done, errno};
        if (n == 0) break;
        done += static_cast<DWORD>(n);
    }
    return {done, 0};
}

HANDLE FailOpen(DWORD code) {
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
}

// A missing entry is a missing file when its folder exists, and a bad path otherwise.
DWORD MissingEntryError(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    struct stat st {};
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                   : ERROR_PATH_NOT_FOUND;
}

DWORD OpenError(int err, const std::string& path) {
    switch (err) {
        case ENOENT:
            return MissingEntryError(path);
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENXIO:   // a socket, or a pipe without a reader
        case ENODEV:  // a device without a driver
            return ERROR_ACCESS_DENIED;
        default:
            return Win32ErrorFromErrno(err);
    }
}

DWORD AccessBits(DWORD desired) {
    DWORD bits = 0;
    if ((desired & (GENERIC_READ | GENERIC_ALL)) != 0) bits |= kRead;
    if ((desired & (GENERIC_WRITE | GENERIC_ALL)) != 0) bits |= kWrite;
    if ((desired & DELETE) != 0) bits |= kDelete;
    return bits;
}

// The move method as lseek's origin, or -1.
int Origin(DWORD method) {
    switch (method) {
        case FILE_BEGIN:
            return SEEK_SET;
        case FILE_CURRENT:
            return SEEK_CUR;
        case FILE_END:
            return SEEK_END;
        default:
            return -1;
    }
}

bool Seek(const OpenFile& file, LONGLONG distance, DWORD method, LONGLONG& position) {
    const int origin = Origin(method);
    if (origin < 0) return Fail(ERROR_INVALID_PARAMETER);
    LONGLONG base = 0;
    if (origin != SEEK_SET) {
        struct stat st {};
        const off_t at = origin == SEEK_CUR ? ::lseek(file.fd, 0, SEEK_CUR) : -1;
        if (origin == SEEK_CUR && at < 0) return Fail(Win32ErrorFromErrno(errno));
        if (origin == SEEK_END && ::fstat(file.fd, &st) != 0)
            return Fail(Win32ErrorFromErrno(errno));
        base = origin == SEEK_CUR ? at : st.st_size;
    }
    if (distance < 0 ? base < LLONG_MIN - distance : base > LLONG_MAX - distance) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const LONGLONG target = base + distance;
    if (target < 0) return Fail(ERROR_NEGATIVE_SEEK);
    if (::lseek(file.fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        return Fail(Win32ErrorFromErrno(errno));
    }
    position = target;
    return true;
}

bool Size(const OpenFile& file, LONGLONG& size) {
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return Fail(Win32ErrorFromErrno(errno));
    size = st.st_size;
    return true;
}

DWORD Low(LONGLONG v) {
    return static_cast<DWORD>(static_cast<ULONGLONG>(v) & 0xFFFFFFFFu);
}
DWORD High(LONGLONG v) {
    return static_cast<DWORD>(static_cast<ULONGLONG>(v) >> 32);
}

// 100-nanosecond intervals since 1601-01-01, from a POSIX time.
FILETIME FileTime(const struct timespec& t) {
    constexpr LONGLONG kEpochDifference = 11644473600LL;  // seconds from 1601 to 1970
    const LONGLONG ticks = (t.tv_sec + kEpochDifference) * 10000000LL + t.tv_nsec / 100;
    return FILETIME{Low(ticks), High(ticks)};
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE) {
    if (lpFileName == nullptr) return FailOpen(ERROR_INVALID_PARAMETER);
    if (*lpFileName == '\0') return FailOpen(ERROR_PATH_NOT_FOUND);
    const std::string path(lpFileName);
    const DWORD access = AccessBits(dwDesiredAccess);
    const DWORD share = dwShareMode;
    const DWORD disposition = dwCreationDisposition;
    if ((share & ~(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) != 0 ||
        disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
        (disposition == TRUNCATE_EXISTING && (access & kWrite) == 0)) {
        return FailOpen(ERROR_INVALID_PARAMETER);
    }
    const bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    const bool mayCreate =
        disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;

    // Where the name is (from a confined thread: inside the folders it may use, never
    // through a link), and what it is, before anything is opened: only a regular file is ever
    // opened, so a pipe cannot block the open and a device never sees one.
    talrec::kernel::PathAt at;
    if (!at.Locate(lpFileName, true)) return INVALID_HANDLE_VALUE;
    const int noFollow = at.confined() ? O_NOFOLLOW : 0;
    struct stat st {};
    bool existed =
        ::fstatat(at.dir(), at.name(), &st, at.confined() ? AT_SYMLINK_NOFOLLOW : 0) == 0;
    if (existed) {
        if (!S_ISREG(st.st_mode)) return FailOpen(ERROR_ACCESS_DENIED);
        if (disposition == CREATE_NEW) return FailOpen(ERROR_FILE_EXISTS);
        if (((access & kWrite) != 0 || truncate) && (st.st_mode & kWriteBits) == 0) {
            return FailOpen(ERROR_ACCESS_DENIED);  // read-only, whoever asks
        }
    } else if (errno != ENOENT || !mayCreate) {
        return FailOpen(OpenError(errno, path));
    }

    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | noFollow;
    int fdMode = O_RDONLY;
    if ((access & kRead) != 0 && (access & kWrite) != 0) {
        fdMode = O_RDWR;
    } else if ((access & kWrite) != 0) {
        fdMode = O_WRONLY;
    }
    flags |= fdMode;
    if (mayCreate) flags |= O_CREAT;
    if (disposition == CREATE_NEW) flags |= O_EXCL;
    const mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0400 : 0600;
    auto file = std::make_shared<OpenFile>();
    file->access = access;
    file->fd = ::openat(at.dir(), at.name(), flags, mode);
    if (file->fd < 0 && errno == EACCES && access == 0) {
        // A handle that only queries needs no read permission.
        fdMode = -1;
        file->fd = ::openat(at.dir(), at.name(), O_PATH | O_CLOEXEC | noFollow);
    }
    if (file->fd < 0 && at.confined() && errno == ELOOP) return FailOpen(ERROR_ACCESS_DENIED);
    if (file->fd < 0) return FailOpen(OpenError(errno, path));

    // The name may have changed since it was looked at.
    struct stat opened {};
    if (::fstat(file->fd, &opened) != 0) return FailOpen(Win32ErrorFromErrno(errno));
    if (!S_ISREG(opened.st_mode)) return FailOpen(ERROR_ACCESS_DENIED);
    if (existed && ((access & kWrite) != 0 || truncate) && (opened.st_mode & kWriteBits) == 0) {
        return FailOpen(ERROR_ACCESS_DENIED);
    }
    if (fdMode >= 0) ::fcntl(file->fd, F_SETFL, ::fcntl(file->fd, F_GETFL) & ~O_NONBLOCK);

    {
        const talrec::kernel::ShareLock lock(file->fd);
        if (!lock.ok() || lock.Conflicts(access, share)) return FailOpen(ERROR_SHARING_VIOLATION);
        if (fdMode >= 0 && !lock.Claim(access, share, fdMode)) {
            return FailOpen(ERROR_SHARING_VIOLATION);
        }
    }
    // Only now that the share modes allow the open may the contents go.
    if (truncate && opened.st_size != 0 && ::ftruncate(file->fd, 0) != 0) {
        return FailOpen(Win32ErrorFromErrno(errno));
    }
    const HANDLE handle = Register(std::move(file));
    SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    const std::shared_ptr<OpenFile> file = BeginTransfer(
        hFile, kRead, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
    if (!file) return FALSE;
    auto* out = static_cast<char*>(lpBuffer);
    // A read that gives nothing is the end of the file.
    const auto [done, error] = Transfer(nNumberOfBytesToRead, [&](DWORD at) {
        return ::read(file->fd, out + at, nNumberOfBytesToRead - at);
    });
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = done;
    return error == 0 ? TRUE : Fail(Win32ErrorFromErrno(error));
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    const std::shared_ptr<OpenFile> file = BeginTransfer(
        hFile, kWrite, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
    if (!file) return FALSE;
    const auto* in = static_cast<const char*>(lpBuffer);
    const auto [done, error] = Transfer(nNumberOfBytesToWrite, [&](DWORD at) {
        return ::write(file->fd, in + at, nNumberOfBytesToWrite - at);
    });
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
    if (error != 0) return Fail(Win32ErrorFromErrno(error));
    // A write that takes nothing is a full disk.
    return done == nNumberOfBytesToWrite ? TRUE : Fail(ERROR_DISK_FULL);
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                     DWORD dwMoveMethod) {
    const std::shared_ptr<OpenFile> file = Lookup(hFile);
    if (!file) return INVALID_SET_FILE_POINTER;
    LONGLONG distance = lDistanceToMove;
    if (lpDistanceToMoveHigh != nullptr) {
        distance = static_cast<LONGLONG>((static_cast<ULONGLONG>(*lpDistanceToMoveHigh) << 32) |
                                         static_cast<DWORD>(lDistanceToMove));
    }
    LONGLONG position = 0;
    if (!Seek(*file, distance, dwMoveMethod, position)) return INVALID_SET_FILE_POINTER;
    if (lpDistanceToMoveHigh != nullptr) {
        *lpDistanceToMoveHigh = static_cast<LONG>(High(position));
    } else if (High(position) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);  // the position needs the high part
        return INVALID_SET_FILE_POINTER;
    }
    if (Low(position) == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
    return Low(position);
}

BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod) {
    const std::shared_ptr<OpenFile> file = Lookup(hFile);
    if (!file) return FALSE;
    LONGLONG position = 0;
    if (!Seek(*file, liDistanceToMove.QuadPart, dwMoveMethod, position)) return FALSE;
    if (lpNewFilePointer != nullptr) lpNewFilePointer->QuadPart = position;
    return TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    const std::shared_ptr<OpenFile> file = Lookup(hFile);
    LONGLONG size = 0;
    if (!file || !Size(*file, size)) return INVALID_FILE_SIZE;
    if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = High(size);
    if (Low(size) == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
    return Low(size);
}

BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
    if (lpFileSize == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::shared_ptr<OpenFile> file = Lookup(hFile);
    LONGLONG size = 0;
    if (!file || !Size(*file, size)) return FALSE;
    lpFileSize->QuadPart = size;
    return TRUE;
}

BOOL SetEndOfFile(HANDLE hFile) {
    const std::shared_ptr<OpenFile> file = LookupFor(hFile, kWrite);
    if (!file) return FALSE;
    const off_t at = ::lseek(file->fd, 0, SEEK_CUR);
    if (at < 0 || ::ftruncate(file->fd, at) != 0) return Fail(Win32ErrorFromErrno(errno));
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile) {
    const std::shared_ptr<OpenFile> file = LookupFor(hFile, kWrite);
    if (!file) return FALSE;
    // A file system that cannot sync (EINVAL) has nothing more to write.
    if (::fsync(file->fd) != 0 && errno != EINVAL) return Fail(Win32ErrorFromErrno(errno));
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    if (lpFileInformation == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::shared_ptr<OpenFile> file = Lookup(hFile);
    if (!file) return FALSE;
    struct stat st {};
    if (::fstat(file->fd, &st) != 0) return Fail(Win32ErrorFromErrno(errno));
    BY_HANDLE_FILE_INFORMATION& info = *lpFileInformation;
    info.dwFileAttributes = talrec::kernel::AttributesOf(st, nullptr);
    info.ftCreationTime = FileTime(st.st_ctim);
    info.ftLastAccessTime = FileTime(st.st_atim);
    info.ftLastWriteTime = FileTime(st.st_mtim);
    // Device numbers fit in 32 bits but for huge major or minor numbers; those are folded.
    const auto device = static_cast<ULONGLONG>(st.st_dev);
    info.dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    const auto size = static_cast<LONGLONG>(st.st_size);
    info.nFileSizeHigh = High(size);
    info.nFileSizeLow = Low(size);
    info.nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    const auto index = static_cast<LONGLONG>(st.st_ino);
    info.nFileIndexHigh = High(index);
    info.nFileIndexLow = Low(index);
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
    std::shared_ptr<OpenFile> file;
    {
        std::lock_guard lock(g_tableLock);
        const auto found = g_table.find(reinterpret_cast<std::uintptr_t>(hObject));
        if (found == g_table.end()) return Fail(ERROR_INVALID_HANDLE);
        file = std::move(found->second);
        g_table.erase(found);
    }
    // The last user closes the descriptor: here, or a call still running on another thread.
    if (file.use_count() == 1) {
        const int fd = std::exchange(file->fd, -1);
        if (::close(fd) != 0 && errno != EINTR) return Fail(Win32ErrorFromErrno(errno));
    }
    return TRUE;
}
