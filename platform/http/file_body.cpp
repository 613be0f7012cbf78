// A response's file body: opened without following a symbolic link (Linux: O_NOFOLLOW; Windows:
// FILE_FLAG_OPEN_REPARSE_POINT, so a link or junction is opened as itself and then refused as
// not a regular file), and read at an offset.
#include "platform/http/server_state.h"

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace talrec::platform::http_detail {

#ifdef _WIN32

namespace {
HANDLE AsHandle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}
}  // namespace

bool FileBody::Open(const std::string& path, std::uint64_t atLeast) {
    Close();
    // The host's paths are in the ANSI code page, as the control's data folder is.
    const int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (length <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), length);
    HANDLE file =
        CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular =
        GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    const std::uint64_t size =
        (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (!regular || size < atLeast) {
        CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

long long FileBody::Read(char* into, std::size_t size, std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), into, static_cast<DWORD>(size), &got, &at)) return -1;
    return got;
}

void FileBody::Close() {
    if (handle_ != kNone) CloseHandle(AsHandle(handle_));
    handle_ = kNone;
}

#else

bool FileBody::Open(const std::string& path, std::uint64_t atLeast) {
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) < atLeast) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

long long FileBody::Read(char* into, std::size_t size, std::uint64_t offset) {
    return ::pread(static_cast<int>(handle_), into, size, static_cast<off_t>(offset));
}

void FileBody::Close() {
    if (handle_ != kNone) ::close(static_cast<int>(handle_));
    handle_ = kNone;
}

#endif

}  // namespace talrec::platform::http_detail
