// CFileException: causes, their mapping from OS errors, and their texts.
#include <cerrno>

#include "framework/afx.h"
#include "platform/mbstring.h"

namespace {
// Win32 codes the mapping needs beyond those of windef.h.
constexpr LONG kErrorCurrentDirectory = 16;
constexpr LONG kErrorCrc = 23;
constexpr LONG kErrorSeek = 25;
constexpr LONG kErrorWriteFault = 29;
constexpr LONG kErrorReadFault = 30;
constexpr LONG kErrorLockViolation = 33;
constexpr LONG kErrorHandleDiskFull = 39;
constexpr LONG kErrorCannotMake = 82;
constexpr LONG kErrorNegativeSeek = 131;
constexpr LONG kErrorBadPathname = 161;
}  // namespace

const CRuntimeClass CFileException::classCFileException = {
    "CFileException", sizeof(CFileException), 0xFFFF, nullptr, &CException::classCException};

const CRuntimeClass* CFileException::GetRuntimeClass() const {
    return &classCFileException;
}

CFileException::CFileException(int cause, LONG lOsError, std::string strFileName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(std::move(strFileName)) {}

int CFileException::OsErrorToException(LONG lOsError) {
    switch (lOsError) {
        case static_cast<LONG>(ERROR_SUCCESS):
            return none;
        case static_cast<LONG>(ERROR_FILE_NOT_FOUND):
        case static_cast<LONG>(ERROR_INVALID_HANDLE):
            return fileNotFound;
        case static_cast<LONG>(ERROR_PATH_NOT_FOUND):
        case static_cast<LONG>(ERROR_INVALID_NAME):
        case static_cast<LONG>(ERROR_FILENAME_EXCED_RANGE):
        case kErrorBadPathname:
            return badPath;
        case static_cast<LONG>(ERROR_TOO_MANY_OPEN_FILES):
            return tooManyOpenFiles;
        case static_cast<LONG>(ERROR_ACCESS_DENIED):
        case static_cast<LONG>(ERROR_FILE_EXISTS):
        case static_cast<LONG>(ERROR_ALREADY_EXISTS):
            return accessDenied;
        case kErrorCurrentDirectory:
            return removeCurrentDir;
        case kErrorCannotMake:
            return directoryFull;
        case kErrorSeek:
        case kErrorNegativeSeek:
            return badSeek;
        case kErrorCrc:
        case kErrorReadFault:
        case kErrorWriteFault:
            return hardIO;
        case static_cast<LONG>(ERROR_SHARING_VIOLATION):
            return sharingViolation;
        case kErrorLockViolation:
            return lockViolation;
        case static_cast<LONG>(ERROR_DISK_FULL):
        case kErrorHandleDiskFull:
            return diskFull;
        case static_cast<LONG>(ERROR_HANDLE_EOF):
            return endOfFile;
        default:
            return genericException;
    }
}

int CFileException::ErrnoToException(int err) {
    switch (err) {
        case 0:
            return none;
        case ENOENT:
            return fileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return badPath;
        case EMFILE:
        case ENFILE:
            return tooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY:
        case EBADF:
            return accessDenied;
        case EWOULDBLOCK:
            return sharingViolation;
        case ESPIPE:
            return badSeek;
        case EIO:
            return hardIO;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return diskFull;
        default:
            return genericException;
    }
}

void CFileException::ThrowErrno(int err, const std::string& strFileName) {
    throw CFileException(ErrnoToException(err), static_cast<LONG>(Win32ErrorFromErrno(err)),
                         AfxGetFileName(strFileName));
}

void CFileException::ThrowOsError(LONG lOsError, const std::string& strFileName) {
    throw CFileException(OsErrorToException(lOsError), lOsError, AfxGetFileName(strFileName));
}

void AfxThrowFileException(int cause, LONG lOsError, LPCSTR lpszFileName) {
    throw CFileException(cause, lOsError,
                         lpszFileName != nullptr ? AfxGetFileName(lpszFileName) : std::string());
}

std::string AfxGetFileName(const std::string& path) {
    const char* last = AfxStrRChrMB(path.c_str(), PATH_SEPARATOR);
    return last != nullptr ? std::string(last + 1) : path;
}

std::string CFileException::Message() const {
    const std::string name = m_strFileName.empty() ? "an unnamed file" : m_strFileName;
    switch (m_cause) {
        case none:
            return "No error occurred.";
        case fileNotFound:
            return name + " was not found.";
        case badPath:
            return name + " contains an invalid path.";
        case tooManyOpenFiles:
            return name + " could not be opened because there are too many open files.";
        case accessDenied:
            return "Access to " + name + " was denied.";
        case invalidFile:
            return name + " is not a file of the expected format.";
        case removeCurrentDir:
            return name + " could not be removed because it is the current directory.";
        case directoryFull:
            return name + " could not be created because the directory is full.";
        case badSeek:
            return "A seek failed on " + name + ".";
        case hardIO:
            return "A hardware I/O error was reported while accessing " + name + ".";
        case sharingViolation:
            return "A sharing violation occurred while accessing " + name + ".";
        case lockViolation:
            return "A locking violation occurred while accessing " + name + ".";
        case diskFull:
            return "The disk is full while accessing " + name + ".";
        case endOfFile:
            return "An attempt was made to access " + name + " past its end.";
        default:
            return "An unexpected error occurred while accessing " + name + ".";
    }
}
