// Recording spools: while a recording runs, its captured bytes go to a file of its own, so
// that the sound survives a crash of the recording process and does not have to be held in
// memory. This is an extension of the platform, not a Windows API.
//
// Where: $XDG_STATE_HOME/talrec/spool/ (an absolute XDG_STATE_HOME only), else
// ~/.local/state/talrec/spool/; folders made 0700, files 0600. A spool file holds a small
// header (the destination the recording is meant for, its PCM format, the owning process id
// and the start time) and then the raw frames in capture order. The owning process holds a
// lock on the file for as long as the spool is open, so a spool whose lock is free has lost
// its owner (a crash, a kill, a power cut): recovery goes by that lock, never by the pid.
//
// Durability: bytes appended reach the file and then the disk within
// about a second (fdatasync on a timer of the spool's own). A spool whose file cannot be
// written any more (disk full, I/O error) keeps what the file holds and holds everything
// appended after that in memory, so nothing appended is lost; the first such failure is said
// once with OutputDebugStringA. A spool costs a fixed ring of 256 KiB however long the
// recording, plus whatever the disk has not taken yet.
//
// Threads. SpoolCreate, SpoolFlush, SpoolRead, SpoolWriteWav, SpoolLeave and SpoolDiscard run on
// the owner's thread (one thread at a time per spool). SpoolAppend runs on one producer thread at a
// time (the capture callback's); it never waits for the disk and makes no system call while the
// spool's writer keeps up. SpoolLength may be called from any thread. The owner may discard a spool
// only once the producer's last append has returned.
//
// On Windows there is no spool: SpoolCreate returns null and the recording stays in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mmwave.h"

namespace talrec::platform {

struct SPOOL;
using HSPOOL = SPOOL*;

// Flags of SpoolWriteWav.
inline constexpr DWORD SPOOL_WRITE_REPLACE = 0;  // create the file or truncate it
inline constexpr DWORD SPOOL_WRITE_NEW = 1;      // ERROR_FILE_EXISTS when the file is there

// What a spool's header says, and how much sound it holds.
struct SPOOLINFO {
    std::string file;         // the spool file
    std::string destination;  // the file the recording was meant for
    WAVEFORMATEX format{};
    DWORD ownerPid = 0;
    std::int64_t startTime = 0;   // seconds since 1970-01-01 UTC
    std::uint64_t dataBytes = 0;  // whole frames only
    bool saved = false;           // written to its destination already
};

#if !defined(_WIN32)

// A new spool for a recording meant for `destination` in `format`. Null when none can be
// made (no folder, no space, read-only): the reason is said once per process with
// OutputDebugStringA, and the caller keeps the recording in memory.
HSPOOL SpoolCreate(LPCSTR destination, const WAVEFORMATEX& format);

// Producer thread: appends bytes. Never fails and never waits for the disk.
void SpoolAppend(HSPOOL spool, const void* data, DWORD bytes);

// Any thread: the bytes appended so far.
std::uint64_t SpoolLength(HSPOOL spool);

// Waits until every byte appended before the call is in the file (or, after a write
// failure, in the spool's memory), so that SpoolRead and SpoolWriteWav can reach it.
void SpoolFlush(HSPOOL spool);

// Reads up to `bytes` bytes from `offset` of the flushed bytes; returns the bytes read.
DWORD SpoolRead(HSPOOL spool, std::uint64_t offset, void* buffer, DWORD bytes);

// Writes a WAV file: the 44-byte header for `format` and `dataBytes` (at most the flushed
// bytes), then the spool's first `dataBytes` bytes. The file is opened as the framework's
// CFile opens one with create, write-only and no sharing: a file another opener holds fails
// with ERROR_SHARING_VIOLATION, a missing folder with ERROR_PATH_NOT_FOUND; with
// SPOOL_WRITE_NEW an existing file is left alone with ERROR_FILE_EXISTS. Returns
// ERROR_SUCCESS or the Win32 code of the failure; what was written stays. Written to the
// destination the spool was made for, the spool counts as saved from then on.
DWORD SpoolWriteWav(HSPOOL spool, LPCSTR path, const WAVEFORMATEX& format, std::uint64_t dataBytes,
                    DWORD flags = SPOOL_WRITE_REPLACE);

// Leaves the recording for recovery, for when it will not be written where it was meant to
// go (its container ended it, or its stop could not write): once the producer's last append
// has returned, makes everything appended durable in the file, lets the owner's lock go (so
// that `talrec recover` lists and writes it even while this process runs) and says once with
// OutputDebugStringA under which name it waits. The handle stays readable, and SpoolDiscard
// then closes it and leaves the file. A spool without a whole frame of sound is not left
// (there is nothing to recover): false, and SpoolDiscard removes it as usual.
BOOL SpoolLeave(HSPOOL spool);

// Closes the spool and removes its file, unless it was left for recovery. Null is ignored.
void SpoolDiscard(HSPOOL spool);

// Recovery. The spool files in the spool folder, oldest first (whoever owns them).
std::vector<std::string> SpoolFiles();
// Opens a spool file whose owner has gone and takes its lock over, for SpoolGetInfo,
// SpoolRead, SpoolWriteWav, SpoolDiscard and SpoolRelease; *spool is set only when Opened.
enum class SpoolOpen { Opened, Owned, NotASpool, Failed };
SpoolOpen SpoolOpenOrphan(LPCSTR file, HSPOOL* spool);
void SpoolGetInfo(HSPOOL spool, SPOOLINFO* info);
// Closes a spool and leaves its file for later: the lock goes with it, so the file is then
// an orphan that recovery finds. Null is ignored.
void SpoolRelease(HSPOOL spool);

#else

inline HSPOOL SpoolCreate(LPCSTR, const WAVEFORMATEX&) {
    return nullptr;
}
inline void SpoolAppend(HSPOOL, const void*, DWORD) {}
inline std::uint64_t SpoolLength(HSPOOL) {
    return 0;
}
inline void SpoolFlush(HSPOOL) {}
inline DWORD SpoolRead(HSPOOL, std::uint64_t, void*, DWORD) {
    return 0;
}
inline DWORD SpoolWriteWav(HSPOOL, LPCSTR, const WAVEFORMATEX&, std::uint64_t, DWORD = 0) {
    return ERROR_INVALID_FUNCTION;
}
inline BOOL SpoolLeave(HSPOOL) {
    return FALSE;
}
inline void SpoolDiscard(HSPOOL) {}

#endif

}  // namespace talrec::platform
