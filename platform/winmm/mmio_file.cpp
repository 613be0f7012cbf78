// The byte streams under mmio handles: files opened for reading through the kernel's file
// handles, and bytes in memory.
#include <cstring>

#include "platform/ext/mmiostream.h"
#include "platform/fileapi.h"
#include "platform/handleapi.h"
#include "platform/mmio.h"

namespace {

class FileStream final : public IMmioStream {
  public:
    explicit FileStream(HANDLE file) : file_(file) {}
    ~FileStream() override { CloseHandle(file_); }
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    long long Read(void* buffer, long long size) override {
        if (size < 0) return -1;
        const DWORD want = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
        DWORD got = 0;
        if (!ReadFile(file_, buffer, want, &got, nullptr)) return -1;
        position_ += got;
        return got;
    }
    bool SeekTo(long long position) override {
        LARGE_INTEGER to;
        to.QuadPart = position;
        if (position < 0 || !SetFilePointerEx(file_, to, nullptr, FILE_BEGIN)) return false;
        position_ = position;
        return true;
    }
    long long Position() const override { return position_; }
    long long Length() const override {
        LARGE_INTEGER size;
        return GetFileSizeEx(file_, &size) ? static_cast<long long>(size.QuadPart) : -1;
    }

  private:
    HANDLE file_;
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

// Opens path for reading; on failure returns null with the Win32 error in *error. Others may
// read and write the file meanwhile, as in the system's compatibility mode, but not delete it.
std::unique_ptr<IMmioStream> MmioFileStream(LPCSTR path, DWORD* error) {
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return nullptr;
    }
    return std::make_unique<FileStream>(file);
}

std::unique_ptr<IMmioStream> MmioMemoryStream(const void* data, size_t size) {
    return std::make_unique<MemoryStream>(data, size);
}
