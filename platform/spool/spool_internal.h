// The private side of the recording spools: the spool folder, the header of a spool file,
// and the spool's state that spool.cpp (live spools) and spool_files.cpp (the folder and
// recovery) share.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ext/spool.h"
#include "platform/ext/wavformat.h"
#include "platform/spool/ring.h"

namespace talrec::platform::spool {

// The header: "TALRSPL1", header size (u32), state (u32: 0 recording, 1 saved), the six
// PCM fields, owner pid (u32), start time (i64 seconds), destination length (u32), the
// destination's bytes, zeros; little-endian. The frames follow at the header size, which
// leaves them at the page offset they have in a WAV file (after its header), so that copying them
// into one moves whole pages.
inline constexpr char kMagic[8] = {'T', 'A', 'L', 'R', 'S', 'P', 'L', '1'};
inline constexpr std::size_t kStateOffset = 12;
inline constexpr std::size_t kFixedHeaderBytes = 48;
inline constexpr std::size_t kMaxDestinationBytes = 64 * 1024;
inline constexpr std::uint32_t kStateRecording = 0;
inline constexpr std::uint32_t kStateSaved = 1;
inline constexpr char kSuffix[] = ".spool";

struct Header {
    std::uint32_t headerBytes = 0;
    std::uint32_t state = kStateRecording;
    WAVEFORMATEX format{};
    std::uint32_t pid = 0;
    std::int64_t startTime = 0;
    std::string destination;
};

inline constexpr std::size_t kPageBytes = 4096;
inline constexpr std::size_t kDataPageOffset = kWavHeaderBytes;

// The header size for a destination of that many bytes.
std::size_t HeaderBytes(std::size_t destinationBytes);
std::vector<BYTE> EncodeHeader(const Header& header);
// Reads and checks the header at the start of fd; false when it is not a spool's.
bool DecodeHeader(int fd, Header* header);

// The spool folder: $XDG_STATE_HOME/talrec/spool when XDG_STATE_HOME is absolute, else
// ~/.local/state/talrec/spool. Empty when there is no home folder.
std::string Folder();
// The folder, created 0700 where missing; false with the reason when it cannot be had.
bool MakeFolder(std::string* folder, std::string* why);

// The text of an errno value (thread-safe).
std::string ErrorText(int err);

// Bytes held in memory after the file could not take them, in blocks of kBlockBytes.
class MemoryTail {
  public:
    static constexpr std::size_t kBlockBytes = 1 << 20;
    void Append(const BYTE* data, std::size_t bytes);
    std::size_t Read(std::uint64_t offset, BYTE* out, std::size_t bytes) const;
    std::uint64_t size() const { return size_; }

  private:
    std::vector<std::unique_ptr<BYTE[]>> blocks_;
    std::uint64_t size_ = 0;
};

}  // namespace talrec::platform::spool

namespace talrec::platform {

// One spool. A live one (Create) has a writer thread; one opened for recovery (OpenOrphan)
// has none and takes no appends.
struct RecordingSpool::State {
    static constexpr std::size_t kRingBytes = 256 * 1024;

    // Fixed once made.
    int fd = -1;
    std::string file;
    spool::Header header;
    bool orphan = false;
    bool left = false;  // left for recovery (Leave): its file outlives the spool
    bool keep = false;  // KeepFile: the file stays, unlocked, when the spool goes

    // The ring from the producer (pushes) to the writer (peeks and pops); live spools only.
    std::unique_ptr<spool::ByteRing> ring;
    std::atomic<std::uint64_t> appended{0};  // every byte appended, ring and overflow
    // When the ring is full the producer appends to the overflow list instead, and keeps doing
    // so until the writer has emptied it, so that the order stays.
    std::atomic<bool> overflowing{false};
    std::mutex overflowMu;  // guards overflow
    std::deque<std::vector<BYTE>> overflow;

    // The writer thread's wake-ups: guarded by mu.
    std::mutex mu;
    std::condition_variable cv;      // the writer: work, a flush or the end
    std::condition_variable doneCv;  // flushers: consumed moved on
    bool wake = false;
    bool stop = false;
    std::uint64_t consumed = 0;       // bytes taken from the ring and the overflow list
    std::atomic<bool> parked{false};  // the writer sleeps until the producer wakes it

    // Where the bytes are: [0, fileBytes) in the file after the header, the rest in memory
    // once a write has failed. fileBytes never moves again after a failure.
    std::atomic<std::uint64_t> fileBytes{0};
    std::atomic<bool> failed{false};
    mutable std::mutex tailMu;  // guards memoryTail
    spool::MemoryTail memoryTail;

    std::thread writer;
};

}  // namespace talrec::platform
