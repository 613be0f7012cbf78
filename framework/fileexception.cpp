// CFileException: causes, their mapping from Win32 error codes, and their texts.
#include "framework/afx.h"
#include "framework/afxpath.h"

namespace {

struct OsErrorCause {
    DWORD osError;
    int cause;
};

// The Win32 codes the framework gives a cause of their own; every other code is
// genericException. Codes that windef.h does not name are given by number.
constexpr OsErrorCause kOsErrorCauses[] = {
    {ERROR_SUCCESS, CFileException::none},
    {ERROR_FILE_NOT_FOUND, CFileException::fileNotFound},
    {ERROR_PATH_NOT_FOUND, CFileException::badPath},
    {ERROR_TOO_MANY_OPEN_FILES, CFileException::tooManyOpenFiles},
    {ERROR_ACCESS_DENIED, CFileException::accessDenied},
    {ERROR_INVALID_HANDLE, CFileException::fileNotFound},
    {11, CFileException::invalidFile},       // ERROR_BAD_FORMAT
    {12, CFileException::accessDenied},      // ERROR_INVALID_ACCESS
    {15, CFileException::badPath},           // ERROR_INVALID_DRIVE
    {16, CFileException::removeCurrentDir},  // ERROR_CURRENT_DIRECTORY
    {17, CFileException::badPath},           // ERROR_NOT_SAME_DEVICE
    {ERROR_NO_MORE_FILES, CFileException::fileNotFound},
    {19, CFileException::accessDenied},  // ERROR_WRITE_PROTECT
    {20, CFileException::hardIO},        // ERROR_BAD_UNIT
    {21, CFileException::hardIO},        // ERROR_NOT_READY
    {22, CFileException::hardIO},        // ERROR_BAD_COMMAND
    {23, CFileException::hardIO},        // ERROR_CRC
    {24, CFileException::badSeek},       // ERROR_BAD_LENGTH
    {25, CFileException::badSeek},       // ERROR_SEEK
    {26, CFileException::invalidFile},   // ERROR_NOT_DOS_DISK
    {27, CFileException::badSeek},       // ERROR_SECTOR_NOT_FOUND
    {ERROR_WRITE_FAULT, CFileException::accessDenied},
    {ERROR_READ_FAULT, CFileException::badSeek},
    {ERROR_SHARING_VIOLATION, CFileException::sharingViolation},
    {ERROR_LOCK_VIOLATION, CFileException::lockViolation},
    {34, CFileException::badPath},           // ERROR_WRONG_DISK
    {36, CFileException::tooManyOpenFiles},  // ERROR_SHARING_BUFFER_EXCEEDED
    {ERROR_HANDLE_EOF, CFileException::endOfFile},
    {39, CFileException::diskFull},          // ERROR_HANDLE_DISK_FULL
    {52, CFileException::badPath},           // ERROR_DUP_NAME
    {53, CFileException::badPath},           // ERROR_BAD_NETPATH
    {54, CFileException::accessDenied},      // ERROR_NETWORK_BUSY
    {55, CFileException::badPath},           // ERROR_DEV_NOT_EXIST
    {57, CFileException::hardIO},            // ERROR_ADAP_HDW_ERR
    {58, CFileException::accessDenied},      // ERROR_BAD_NET_RESP
    {59, CFileException::hardIO},            // ERROR_UNEXP_NET_ERR
    {60, CFileException::invalidFile},       // ERROR_BAD_REM_ADAP
    {62, CFileException::directoryFull},     // ERROR_NO_SPOOL_SPACE
    {64, CFileException::accessDenied},      // ERROR_NETNAME_DELETED
    {65, CFileException::accessDenied},      // ERROR_NETWORK_ACCESS_DENIED
    {66, CFileException::invalidFile},       // ERROR_BAD_DEV_TYPE
    {67, CFileException::badPath},           // ERROR_BAD_NET_NAME
    {68, CFileException::tooManyOpenFiles},  // ERROR_TOO_MANY_NAMES
    {70, CFileException::badPath},           // ERROR_SHARING_PAUSED
    {71, CFileException::accessDenied},      // ERROR_REQ_NOT_ACCEP
    {ERROR_FILE_EXISTS, CFileException::accessDenied},
    {82, CFileException::accessDenied},    // ERROR_CANNOT_MAKE
    {85, CFileException::badPath},         // ERROR_ALREADY_ASSIGNED
    {86, CFileException::accessDenied},    // ERROR_INVALID_PASSWORD
    {88, CFileException::hardIO},          // ERROR_NET_WRITE_FAULT
    {107, CFileException::fileNotFound},   // ERROR_DISK_CHANGE
    {108, CFileException::lockViolation},  // ERROR_DRIVE_LOCKED
    {111, CFileException::badPath},        // ERROR_BUFFER_OVERFLOW
    {ERROR_DISK_FULL, CFileException::diskFull},
    {113, CFileException::tooManyOpenFiles},  // ERROR_NO_MORE_SEARCH_HANDLES
    {114, CFileException::invalidFile},       // ERROR_INVALID_TARGET_HANDLE
    {117, CFileException::hardIO},            // ERROR_INVALID_CATEGORY
    {ERROR_INVALID_NAME, CFileException::badPath},
    {124, CFileException::badPath},  // ERROR_INVALID_LEVEL
    {125, CFileException::badPath},  // ERROR_NO_VOLUME_LABEL
    {ERROR_NEGATIVE_SEEK, CFileException::badSeek},
    {132, CFileException::badSeek},  // ERROR_SEEK_ON_DEVICE
    {144, CFileException::badPath},  // ERROR_DIR_NOT_ROOT
    {ERROR_DIR_NOT_EMPTY, CFileException::removeCurrentDir},
    {154, CFileException::badPath},        // ERROR_LABEL_TOO_LONG
    {161, CFileException::badPath},        // ERROR_BAD_PATHNAME
    {167, CFileException::lockViolation},  // ERROR_LOCK_FAILED
    {170, CFileException::accessDenied},   // ERROR_BUSY
    {182, CFileException::invalidFile},    // ERROR_INVALID_ORDINAL
    {ERROR_ALREADY_EXISTS, CFileException::accessDenied},
    {191, CFileException::invalidFile},  // ERROR_INVALID_EXE_SIGNATURE
    {193, CFileException::invalidFile},  // ERROR_BAD_EXE_FORMAT
    {ERROR_FILENAME_EXCED_RANGE, CFileException::badPath},
    {208, CFileException::badPath},       // ERROR_META_EXPANSION_TOO_LONG
    {267, CFileException::badPath},       // ERROR_DIRECTORY
    {995, CFileException::hardIO},        // ERROR_OPERATION_ABORTED
    {996, CFileException::hardIO},        // ERROR_IO_INCOMPLETE
    {997, CFileException::hardIO},        // ERROR_IO_PENDING
    {999, CFileException::accessDenied},  // ERROR_SWAPERROR
};

}  // namespace

const CRuntimeClass CFileException::classCFileException = {
    "CFileException", sizeof(CFileException), 0xFFFF, nullptr, &CException::classCException};

const CRuntimeClass* CFileException::GetRuntimeClass() const {
    return &classCFileException;
}

CFileException::CFileException(int cause, LONG lOsError, std::string strFileName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(std::move(strFileName)) {}

int CFileException::OsErrorToException(LONG lOsError) {
    const auto code = static_cast<DWORD>(lOsError);
    for (const OsErrorCause& entry : kOsErrorCauses) {
        if (entry.osError == code) return entry.cause;
    }
    return genericException;
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
