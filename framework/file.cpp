// CFile over a POSIX file descriptor, with the framework's open modes and sharing.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "framework/afx.h"
#include "platform/mbstring.h"

namespace {
constexpr UINT kAccessMask = 0x0003;
constexpr UINT kShareMask = 0x0070;

int AccessFlags(UINT nOpenFlags) {
    switch (nOpenFlags & kAccessMask) {
        case CFile::modeRead:
            return O_RDONLY;
        case CFile::modeWrite:
            return O_WRONLY;
        case CFile::modeReadWrite:
            return O_RDWR;
        default:
            return -1;
    }
}

bool ParentExists(const std::string& path) {
    const char* last = AfxStrRChrMB(path.c_str(), PATH_SEPARATOR);
    if (last == nullptr) return true;
    const std::size_t slash = static_cast<std::size_t>(last - path.c_str());
    const std::string parent = slash == 0 ? std::string(1, PATH_SEPARATOR) : path.substr(0, slash);
    struct stat st {};
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

const CRuntimeClass CFile::classCFile = {"CFile", sizeof(CFile), 0xFFFF, nullptr,
                                         &CObject::classCObject};

const CRuntimeClass* CFile::GetRuntimeClass() const {
    return &classCFile;
}

CFile::CFile() = default;

CFile::CFile(LPCSTR lpszFileName, UINT nOpenFlags) {
    CFileException error;
    if (!Open(lpszFileName, nOpenFlags, &error)) throw error;
}

CFile::~CFile() {
    Abort();
}

BOOL CFile::Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
    const std::string path = lpszFileName != nullptr ? lpszFileName : "";
    auto fail = [&](int cause, LONG osError) {
        if (pError != nullptr) *pError = CFileException(cause, osError, AfxGetFileName(path));
        return FALSE;
    };
    if (IsOpen()) return fail(CFileException::genericException, ERROR_INVALID_PARAMETER);
    const int access = AccessFlags(nOpenFlags);
    if (access < 0) return fail(CFileException::genericException, ERROR_INVALID_PARAMETER);

    // No O_TRUNC here: a file held by another opener must not be truncated before the lock
    // has told us it is held. Truncation follows the lock.
    int flags = access | O_CLOEXEC;
    if ((nOpenFlags & modeCreate) != 0) flags |= O_CREAT;
    const int fd = ::open(path.c_str(), flags, 0666);
    auto failErrno = [&](int err) {
        if (fd >= 0) ::close(fd);
        return fail(CFileException::ErrnoToException(err),
                    static_cast<LONG>(Win32ErrorFromErrno(err)));
    };
    if (fd < 0) {
        const int err = errno;
        // A missing folder on the way is a bad path, not a missing file.
        if (err == ENOENT && !ParentExists(path)) {
            return fail(CFileException::badPath, static_cast<LONG>(ERROR_PATH_NOT_FOUND));
        }
        return failErrno(err);
    }

    struct stat st {};
    if (::fstat(fd, &st) != 0) return failErrno(errno);
    // A folder is not a file: opening one fails as it does on the system this stands in for.
    if (S_ISDIR(st.st_mode)) return failErrno(EISDIR);

    if ((nOpenFlags & kShareMask) != shareDenyNone) {
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) continue;
            return failErrno(errno);
        }
    }
    if ((nOpenFlags & modeCreate) != 0 && (nOpenFlags & modeNoTruncate) == 0 &&
        S_ISREG(st.st_mode) && st.st_size != 0) {
        if (::ftruncate(fd, 0) != 0) return failErrno(errno);
    }
    m_hFile = fd;
    m_strFileName = path;
    return TRUE;
}

void CFile::ThrowErrno(int err) const {
    CFileException::ThrowErrno(err, m_strFileName);
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
    if (!IsOpen()) ThrowErrno(EBADF);
    auto* out = static_cast<char*>(lpBuf);
    UINT done = 0;
    while (done < nCount) {
        const ssize_t n = ::read(m_hFile, out + done, nCount - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno);
        }
        if (n == 0) break;  // end of file
        done += static_cast<UINT>(n);
    }
    return done;
}

void CFile::Write(const void* lpBuf, UINT nCount) {
    if (!IsOpen()) ThrowErrno(EBADF);
    const auto* in = static_cast<const char*>(lpBuf);
    UINT done = 0;
    while (done < nCount) {
        const ssize_t n = ::write(m_hFile, in + done, nCount - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno);
        }
        if (n == 0) ThrowErrno(ENOSPC);
        done += static_cast<UINT>(n);
    }
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
    if (!IsOpen()) ThrowErrno(EBADF);
    int whence = SEEK_SET;
    if (nFrom == current) whence = SEEK_CUR;
    if (nFrom == end) whence = SEEK_END;
    const off_t pos = ::lseek(m_hFile, static_cast<off_t>(lOff), whence);
    if (pos < 0) {
        if (errno == EINVAL) {
            throw CFileException(CFileException::badSeek,
                                 static_cast<LONG>(Win32ErrorFromErrno(EINVAL)), GetFileName());
        }
        ThrowErrno(errno);
    }
    return static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetPosition() const {
    if (!IsOpen()) ThrowErrno(EBADF);
    const off_t pos = ::lseek(m_hFile, 0, SEEK_CUR);
    if (pos < 0) ThrowErrno(errno);
    return static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetLength() const {
    if (!IsOpen()) ThrowErrno(EBADF);
    struct stat st {};
    if (::fstat(m_hFile, &st) != 0) ThrowErrno(errno);
    return static_cast<ULONGLONG>(st.st_size);
}

void CFile::SetLength(ULONGLONG dwNewLen) {
    if (!IsOpen()) ThrowErrno(EBADF);
    if (::ftruncate(m_hFile, static_cast<off_t>(dwNewLen)) != 0) ThrowErrno(errno);
}

void CFile::Flush() {
    if (!IsOpen()) return;
    if (::fsync(m_hFile) != 0 && errno != EINVAL) ThrowErrno(errno);
}

void CFile::Close() {
    if (!IsOpen()) return;
    const int fd = m_hFile;
    m_hFile = -1;
    // Closing the descriptor releases the lock taken at open.
    if (::close(fd) != 0 && errno != EINTR) ThrowErrno(errno);
}

void CFile::Abort() {
    if (!IsOpen()) return;
    ::close(m_hFile);
    m_hFile = -1;
}
