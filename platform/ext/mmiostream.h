// The byte I/O under a multimedia file handle (platform/mmio.h), open to tests and fuzz
// targets, which run the production readers unchanged over bytes held in memory.
#pragma once

#ifdef _WIN32
#error "a Linux extension with no counterpart in the Windows SDK"
#else
#include <cstddef>
#include <functional>
#include <memory>

#include "platform/mmio.h"

// The byte I/O under a handle.
class IMmioStream {
  public:
    virtual ~IMmioStream() = default;
    // Reads up to size bytes at the current position; returns the count (0 at the end), or -1.
    virtual long long Read(void* buffer, long long size) = 0;
    // Moves to an absolute position (which may lie past the end); false when it cannot.
    virtual bool SeekTo(long long position) = 0;
    // Current position and total length, or -1 when unknown.
    virtual long long Position() const = 0;
    virtual long long Length() const = 0;
};

// A read-only stream over bytes that the caller keeps alive while the handle is open.
std::unique_ptr<IMmioStream> MmioMemoryStream(const void* data, size_t size);
// A handle over any stream; the handle owns the stream and mmioClose destroys it.
HMMIO mmioOpenStream(std::unique_ptr<IMmioStream> stream);
// Replaces how mmioOpenA turns a name into a stream (null restores POSIX files); returns the
// previous opener. An opener returns null to refuse a name. For tests and fuzz targets, which
// run the production code unchanged over bytes held in memory.
using MmioStreamOpener = std::function<std::unique_ptr<IMmioStream>(LPCSTR name)>;
MmioStreamOpener mmioSetStreamOpener(MmioStreamOpener opener);

#endif  // _WIN32
