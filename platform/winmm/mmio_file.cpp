// The byte streams under mmio handles: POSIX files opened for reading, and bytes in memory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/mmio.h"

namespace {

class FileStream final : public IMmioStream {
  public:
    explicit FileStream(int fd) : fd_(fd) {}
    ~FileStream() override { ::close(fd_); }
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    long long Read(void* buffer, long long size) override {
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, static_cast<size_t>(size));
            if (got >= 0) {
                position_ += got;
                return got;
            }
            if (errno != EINTR) return -1;
        }
    }
    bool SeekTo(long long position) override {
        if (position < 0 || ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0) {
            return false;
        }
        position_ = position;
        return true;
    }
    long long Position() const override { return position_; }
    long long Length() const override {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
    }

  private:
    int fd_;
    long long position_ = 0;
};

class MemoryStream final : public IMmioStream {
  public:
    MemoryStream(const void* data, size_t size)
        : data_(static_cast<const BYTE*>(data)), size_(static_cast<long long>(size)) {}

    long long Read(void* buffer, long long size) override {
        if (size < 0) return -1;
        const long long left = position_ < size_ ? size_ - position_ : 0;
        const long long n = size < left ? size : left;
        if (n > 0) std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
        position_ += n;
        return n;
    }
    bool SeekTo(long long position) override {
        if (position < 0) return false;
        position_ = position;
        return true;
    }
    long long Position() const override { return position_; }
    long long Length() const override { return size_; }

  private:
    const BYTE* data_;
    long long size_;
    long long position_ = 0;
};

}  // namespace

// Opens path for reading; on failure returns null with the Win32 error in *error.
std::unique_ptr<IMmioStream> MmioFileStream(LPCSTR path, DWORD* error) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = Win32ErrorFromErrno(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        *error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    return std::make_unique<FileStream>(fd);
}

std::unique_ptr<IMmioStream> MmioMemoryStream(const void* data, size_t size) {
    return std::make_unique<MemoryStream>(data, size);
}
