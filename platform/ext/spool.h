// Recording spools: while a recording runs, its captured bytes go to a file of its own, so
// that the sound survives a crash of the recording process and does not have to be held in
// memory. This is talrec's own service, not a Windows API.
//
// Where: $XDG_STATE_HOME/talrec/spool/ (an absolute XDG_STATE_HOME only), else
// ~/.local/state/talrec/spool/; folders made 0700, files 0600. A spool file holds a small
// header (the destination the recording is meant for, its PCM format, the owning process id
// and the start time) and then the raw frames in capture order. The owning process holds a
// lock on the file for as long as the spool is open, so a spool whose lock is free has lost
// its owner (a crash, a kill, a power cut): recovery goes by that lock, never by the pid.
//
// Durability: bytes appended reach the file and then the disk within about a second; one
// writer thread per spool writes them and syncs the file. A spool whose file cannot be
// written any more (disk full, I/O error) keeps what the file holds and holds everything
// appended after that in memory, so nothing appended is lost; the first such failure is said
// once with OutputDebugStringA. A spool costs a fixed ring of 256 KiB however long the
// recording, plus whatever the disk has not taken yet.
//
// Threads. Create, Flush, Read, WriteWav, Leave, KeepFile and the destructor run on the
// owner's thread (one thread at a time per spool). Append runs on one producer thread for the
// spool's life (the capture callback's); it never waits for the disk and makes no system call
// while the writer keeps up. Length may be called from any thread. The owner may destroy a
// spool only once the producer's last append has returned.
//
// On Windows there is no spool: Create returns null and the recording stays in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/mmwave.h"

namespace talrec::platform {

class RecordingSpool {
  public:
    // Flags of WriteWav.
    static constexpr DWORD kWriteReplace = 0;  // create the file or truncate it
    static constexpr DWORD kWriteNew = 1;      // ERROR_FILE_EXISTS when the file is there

    // What a spool's header says, and how much sound it holds.
    struct Info {
        std::string file;         // the spool file
        std::string destination;  // the file the recording was meant for
        WAVEFORMATEX format{};
        DWORD ownerPid = 0;
        std::int64_t startTime = 0;   // seconds since 1970-01-01 UTC
        std::uint64_t dataBytes = 0;  // whole frames only
        bool saved = false;           // written to its destination already
    };

    // A new spool for a recording meant for `destination` in `format`. Null when none can be
    // made (no folder, no space, read-only): the reason is said once per process with
    // OutputDebugStringA, and the caller keeps the recording in memory.
    static std::unique_ptr<RecordingSpool> Create(const std::string& destination,
                                                  const WAVEFORMATEX& format);

    // Closes the spool and removes its file, unless it was left for recovery (Leave) or is
    // kept (KeepFile).
    ~RecordingSpool();
    RecordingSpool(const RecordingSpool&) = delete;
    RecordingSpool& operator=(const RecordingSpool&) = delete;

    // Producer thread: appends bytes. Never fails and never waits for the disk.
    void Append(const void* data, std::size_t bytes);

    // Any thread: the bytes appended so far.
    std::uint64_t Length() const;

    // Waits until every byte appended before the call is in the file (or, after a write
    // failure, in the spool's memory), so that Read and WriteWav can reach it.
    void Flush();

    // Reads up to `bytes` bytes from `offset` of the flushed bytes; returns the bytes read.
    std::size_t Read(std::uint64_t offset, void* buffer, std::size_t bytes) const;

    // Writes a WAV file: the 44-byte header for `format` and `dataBytes` (at most the flushed
    // bytes), then the spool's first `dataBytes` bytes. The file is opened as the framework's
    // CFile opens one with create, write-only and no sharing: a file another opener holds
    // fails with ERROR_SHARING_VIOLATION, a missing folder with ERROR_PATH_NOT_FOUND; with
    // kWriteNew an existing file is left alone with ERROR_FILE_EXISTS. Returns ERROR_SUCCESS
    // or the Win32 code of the failure; what was written stays. Written to the destination
    // the spool was made for, the spool counts as saved from then on.
    DWORD WriteWav(const std::string& path, const WAVEFORMATEX& format, std::uint64_t dataBytes,
                   DWORD flags = kWriteReplace);

    // Leaves the recording for recovery, for when it will not be written where it was meant
    // to go (its container ended it, or its stop could not write): once the producer's last
    // append has returned, makes everything appended durable in the file, lets the owner's
    // lock go (so that `talrec recover` lists and writes it even while this process runs) and
    // says once with OutputDebugStringA under which name it waits. The spool stays readable,
    // and its destruction then leaves the file. A spool without a whole frame of sound is not
    // left (there is nothing to recover): false, and the destructor removes it as usual.
    bool Leave();

    // Recovery. The spool files in the spool folder, oldest first (whoever owns them).
    static std::vector<std::string> Files();
    // Opens a spool file whose owner has gone and takes its lock over; *spool is set only
    // when Opened. Such a spool takes no appends.
    enum class Open { Opened, Owned, NotASpool, Failed };
    static Open OpenOrphan(const std::string& file, std::unique_ptr<RecordingSpool>* spool);
    Info GetInfo() const;
    // The destructor then closes the spool and leaves its file for later: the lock goes with
    // it, so the file is then an orphan that recovery finds. KeepFile(false) undoes it.
    void KeepFile(bool keep = true);

    struct State;  // the spool's own (platform/spool/)

  private:
    explicit RecordingSpool(std::unique_ptr<State> state);
    std::unique_ptr<State> s_;
};

#if defined(_WIN32)

struct RecordingSpool::State {};
inline RecordingSpool::~RecordingSpool() = default;
inline std::unique_ptr<RecordingSpool> RecordingSpool::Create(const std::string&,
                                                              const WAVEFORMATEX&) {
    return nullptr;
}
inline void RecordingSpool::Append(const void*, std::size_t) {}
inline std::uint64_t RecordingSpool::Length() const {
    return 0;
}
inline void RecordingSpool::Flush() {}
inline std::size_t RecordingSpool::Read(std::uint64_t, void*, std::size_t) const {
    return 0;
}
inline DWORD RecordingSpool::WriteWav(const std::string&, const WAVEFORMATEX&, std::uint64_t,
                                      DWORD) {
    return ERROR_INVALID_FUNCTION;
}
inline bool RecordingSpool::Leave() {
    return false;
}

#endif

}  // namespace talrec::platform
