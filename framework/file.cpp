// CFile over the platform's file handles, with the framework's open modes.
#include "framework/afx.h"
#include "platform/fileapi.h"
#include "platform/handleapi.h"

namespace {

DWORD Access(UINT nOpenFlags) {
    switch (nOpenFlags & 0x0003) {
        case CFile::modeRead:
            return GENERIC_READ;
        case CFile::modeWrite:
            return GENERIC_WRITE;
        case CFile::modeReadWrite:
            return GENERIC_READ | GENERIC_WRITE;
        default:
            return 0;
    }
}

DWORD ShareMode(UINT nOpenFlags) {
    switch (nOpenFlags & 0x0070) {
        case CFile::shareDenyWrite:
            return FILE_SHARE_READ;
        case CFile::shareDenyRead:
            return FILE_SHARE_WRITE;
        case CFile::shareDenyNone:
            return FILE_SHARE_READ | FILE_SHARE_WRITE;
        default:  // shareCompat, shareExclusive
            return 0;
    }
}

DWORD Disposition(UINT nOpenFlags) {
    if ((nOpenFlags & CFile::modeCreate) == 0) return OPEN_EXISTING;
    return (nOpenFlags & CFile::modeNoTruncate) != 0 ? OPEN_ALWAYS : CREATE_ALWAYS;
}

LONG LastError() {
    return static_cast<LONG>(GetLastError());
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
    auto fail = [&](LONG osError) {
        if (pError != nullptr) {
            *pError = CFileException(CFileException::OsErrorToException(osError), osError,
                                     AfxGetFileName(path));
        }
        return FALSE;
    };
    const DWORD access = Access(nOpenFlags);
    if (IsOpen() || access == 0 || (nOpenFlags & 0x0070) > shareDenyNone) {
        return fail(static_cast<LONG>(ERROR_INVALID_PARAMETER));
    }
    const HANDLE file = CreateFileA(path.c_str(), access, ShareMode(nOpenFlags), nullptr,
                                    Disposition(nOpenFlags), FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return fail(LastError());
    m_hFile = file;
    m_strFileName = path;
    return TRUE;
}

void CFile::ThrowLastError() const {
    CFileException::ThrowOsError(LastError(), m_strFileName);
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
    DWORD read = 0;
    if (!ReadFile(m_hFile, lpBuf, nCount, &read, nullptr)) ThrowLastError();
    return static_cast<UINT>(read);
}

void CFile::Write(const void* lpBuf, UINT nCount) {
    DWORD written = 0;
    if (!WriteFile(m_hFile, lpBuf, nCount, &written, nullptr)) ThrowLastError();
    if (written != nCount)
        AfxThrowFileException(CFileException::diskFull, -1, m_strFileName.c_str());
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
    LARGE_INTEGER distance;
    distance.QuadPart = lOff;
    LARGE_INTEGER position;
    position.QuadPart = 0;
    if (!SetFilePointerEx(m_hFile, distance, &position, nFrom)) ThrowLastError();
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG CFile::GetPosition() const {
    LARGE_INTEGER distance;
    distance.QuadPart = 0;
    LARGE_INTEGER position;
    position.QuadPart = 0;
    if (!SetFilePointerEx(m_hFile, distance, &position, FILE_CURRENT)) ThrowLastError();
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG CFile::GetLength() const {
    LARGE_INTEGER size;
    size.QuadPart = 0;
    if (!GetFileSizeEx(m_hFile, &size)) ThrowLastError();
    return static_cast<ULONGLONG>(size.QuadPart);
}

void CFile::SetLength(ULONGLONG dwNewLen) {
    Seek(static_cast<LONGLONG>(dwNewLen), begin);
    if (!SetEndOfFile(m_hFile)) ThrowLastError();
}

void CFile::Flush() {
    if (!IsOpen()) return;
    if (!FlushFileBuffers(m_hFile)) ThrowLastError();
}

void CFile::Close() {
    if (!IsOpen()) return;
    const HANDLE file = m_hFile;
    m_hFile = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) ThrowLastError();
}

void CFile::Abort() {
    if (!IsOpen()) return;
    CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}
