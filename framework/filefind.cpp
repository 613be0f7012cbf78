#include "framework/filefind.h"

#include <cstring>

#include "framework/afxpath.h"

BOOL CFileFind::FindFile(LPCSTR pattern) {
    Close();
    if (pattern == nullptr) return FALSE;
    const char* separator = AfxStrRChrMB(pattern, PATH_SEPARATOR);
    root_ = separator == nullptr ? std::string() : std::string(pattern, separator);
    handle_ = ::FindFirstFileA(pattern, &next_);
    haveNext_ = handle_ != INVALID_HANDLE_VALUE;
    return haveNext_ ? TRUE : FALSE;
}

BOOL CFileFind::FindNextFile() {
    if (!haveNext_) return FALSE;
    current_ = next_;
    haveCurrent_ = true;
    haveNext_ = ::FindNextFileA(handle_, &next_) != FALSE;
    return haveNext_ ? TRUE : FALSE;
}

void CFileFind::Close() {
    if (handle_ != INVALID_HANDLE_VALUE) ::FindClose(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    haveNext_ = haveCurrent_ = false;
}

std::string CFileFind::GetFileName() const {
    return haveCurrent_ ? std::string(current_.cFileName) : std::string();
}

std::string CFileFind::GetFilePath() const {
    if (!haveCurrent_) return {};
    return root_.empty() ? GetFileName() : root_ + PATH_SEPARATOR + GetFileName();
}

BOOL CFileFind::IsDots() const {
    if (!haveCurrent_) return FALSE;
    return std::strcmp(current_.cFileName, ".") == 0 || std::strcmp(current_.cFileName, "..") == 0;
}

BOOL CFileFind::MatchesMask(DWORD mask) const {
    return haveCurrent_ && (current_.dwFileAttributes & mask) != 0 ? TRUE : FALSE;
}
