// CMemFile: a growable file in memory.
#include <algorithm>
#include <cstring>

#include "framework/afx.h"

const CRuntimeClass CMemFile::classCMemFile = {"CMemFile", sizeof(CMemFile), 0xFFFF, nullptr,
                                               &CFile::classCFile};

const CRuntimeClass* CMemFile::GetRuntimeClass() const {
    return &classCMemFile;
}

CMemFile::CMemFile(const BYTE* lpBuffer, UINT nBufferSize)
    : data_(lpBuffer, lpBuffer + nBufferSize) {}

BOOL CMemFile::Open(LPCSTR, UINT, CFileException* pError) {
    // A file in memory has no name to open.
    if (pError != nullptr) {
        *pError = CFileException(CFileException::genericException, ERROR_INVALID_FUNCTION);
    }
    return FALSE;
}

UINT CMemFile::Read(void* lpBuf, UINT nCount) {
    if (m_nPosition >= data_.size()) return 0;
    const std::size_t n = std::min<std::size_t>(nCount, data_.size() - m_nPosition);
    std::memcpy(lpBuf, data_.data() + m_nPosition, n);
    m_nPosition += n;
    return static_cast<UINT>(n);
}

void CMemFile::Write(const void* lpBuf, UINT nCount) {
    if (nCount == 0) return;
    if (data_.size() < m_nPosition + nCount) data_.resize(m_nPosition + nCount);
    std::memcpy(data_.data() + m_nPosition, lpBuf, nCount);
    m_nPosition += nCount;
}

ULONGLONG CMemFile::Seek(LONGLONG lOff, UINT nFrom) {
    LONGLONG base = 0;
    if (nFrom == current) base = static_cast<LONGLONG>(m_nPosition);
    if (nFrom == end) base = static_cast<LONGLONG>(data_.size());
    const LONGLONG pos = base + lOff;
    if (pos < 0) AfxThrowFileException(CFileException::badSeek, -1, m_strFileName.c_str());
    m_nPosition = static_cast<std::size_t>(pos);
    return static_cast<ULONGLONG>(pos);
}

void CMemFile::SetLength(ULONGLONG dwNewLen) {
    data_.resize(static_cast<std::size_t>(dwNewLen));
    if (m_nPosition > data_.size()) m_nPosition = data_.size();
}
