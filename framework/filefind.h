// CFileFind: the framework's file finder over FindFirstFileA / FindNextFileA.
// Typical loop:  BOOL more = finder.FindFile(pattern);
//                while (more) { more = finder.FindNextFile(); ... finder.GetFileName() ... }
#pragma once

#include <string>

#include "platform/fileapi.h"

class CFileFind {
  public:
    CFileFind() = default;
    ~CFileFind() { Close(); }
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    // Starts a search; TRUE when at least one entry matches. The folder part of the pattern
    // is the root that GetFilePath puts before each name.
    BOOL FindFile(LPCSTR pattern);
    // Moves to the next entry; the entry found stays readable. FALSE when this was the last.
    BOOL FindNextFile();
    void Close();

    std::string GetFileName() const;
    std::string GetFilePath() const;  // root, separator, name
    BOOL IsDirectory() const { return MatchesMask(FILE_ATTRIBUTE_DIRECTORY); }
    BOOL IsReadOnly() const { return MatchesMask(FILE_ATTRIBUTE_READONLY); }
    BOOL IsDots() const;
    BOOL MatchesMask(DWORD mask) const;

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string root_;
    WIN32_FIND_DATAA next_{};     // the entry FindNextFile will make current
    WIN32_FIND_DATAA current_{};  // the entry the getters report
    bool haveNext_ = false;
    bool haveCurrent_ = false;
};
