// Windows: FFmpeg's file protocol takes UTF-8 names and opens them through the wide API, so
// every name the caller can pass is reachable, whatever the process's code page.
#include "System.h"

bool FileSystemName(LPCWSTR name, std::string& out) {
    const int bytes =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return false;
    out.assign(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name, -1, out.data(), bytes, nullptr,
                            nullptr) != bytes) {
        return false;
    }
    out.resize(static_cast<size_t>(bytes - 1));  // without the terminator
    return true;
}

// A new file takes the permissions of its folder, the user's profile for the data folder.
void PrepareOutputFile(const std::string&) {}
