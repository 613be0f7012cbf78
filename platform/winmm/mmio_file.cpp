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
    explicit FileStream(int fd) : m_fd(fd) {}
    ~FileStream() override { ::close(m_fd); }
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    long long Read(void* buffer, long long size) override {
        for (;;) {
            const ssize_t got = ::read(m_fd, buffer, static_cast<size_t>(size));
            if (got >= 0) {
                m_position += got;
                return got;
            }
            if (errno != EINTR) return -1;
        }
    }
    bool SeekTo(long long position) override {
        if (position < 0 || ::lseek(m_fd, static_cast<off_t>(position), SEEK_SET) < 0) {
            return false;
        }
        m_position = position;
        return true;
    }
    long long Position() const override { return m_position; }
    long long Length() const override {
        struct stat st {};
        return ::fstat(m_fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
    }

  private:
    int m_fd;
    long long m_position = 0;
};

class MemoryStream final : public IMmioStream {
  public:
    MemoryStream(const void* data, size_t size)
        : m_data(static_cast<const BYTE*>(data)), m_size(static_cast<long long>(size)) {}

    long long Read(void* buffer, long long size) override {
        if (size < 0) return -1;
        const long long left = m_position < m_size ? m_size - m_position : 0;
        const long long n = size < left ? size : left;
        if (n > 0) std::memcpy(buffer, m_data + m_position, static_cast<size_t>(n));
        m_position += n;
        return n;
    }
    bool SeekTo(long long position) override {
        if (position < 0) return false;
        m_position = position;
        return true;
    }
    long long Position() const override { return m_position; }
    long long Length() const override { return m_size; }

  private:
    const BYTE* m_data;
    long long m_size;
    long long m_position = 0;
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
