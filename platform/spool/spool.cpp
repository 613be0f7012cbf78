// Recording spools while they are live: the hand-off from the capture thread, the writer
// thread (which also syncs), reading back, and writing the WAV file.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/debugapi.h"
#include "platform/ext/hosthooks.h"
#include "platform/ext/wavformat.h"
#include "platform/handleapi.h"
#include "platform/kernel/file_internal.h"
#include "platform/kernel/lasterror.h"
#include "platform/spool/spool_internal.h"

namespace talrec::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using State = RecordingSpool::State;

// The writer takes what the ring holds this often, or at once when it is half full, and
// makes the new bytes durable (at most once per interval). Together: a byte appended is on
// the disk within about a second, at about one wake-up a second.
constexpr auto kWriterTick = 800ms;
constexpr auto kSyncInterval = 750ms;
constexpr std::size_t kHalfRing = State::kRingBytes / 2;
constexpr std::size_t kOverflowBlock = 64 * 1024;
// A writer that has found nothing for this many ticks sleeps until the next append.
constexpr int kIdleTicks = 3;
// Win32 codes the framework maps to its causes, beyond those of windef.h.
constexpr DWORD kErrorWriteFault = 29;

// The Win32 code for an errno value, chosen so that the framework's file exception gets the
// cause its own file layer gives for that errno.
DWORD FileError(int err) {
    switch (err) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ERROR_DISK_FULL;
        case EIO:
            return kErrorWriteFault;
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case ETXTBSY:
            return ERROR_ACCESS_DENIED;
        default:
            return Win32ErrorFromErrno(err);
    }
}

bool WriteAll(int fd, const BYTE* data, std::size_t bytes, int* err) {
    while (bytes > 0) {
        const ssize_t n = write(fd, data, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *err = n < 0 ? errno : ENOSPC;
            return false;
        }
        data += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

// Once per process: why recordings are held in memory.
void SayNoSpool(const std::string& why) {
    static std::atomic<bool> said{false};
    if (said.exchange(true)) return;
    const std::string text = "recording spool: none (" + why +
                             "); recordings are kept in memory until they stop, and one that "
                             "is not written then is lost unless a spool can be made by then";
    OutputDebugStringA(text.c_str());
}

// Writer thread: bytes the file does not take go to the memory tail from then on.
void Store(State* s, const BYTE* data, std::size_t bytes) {
    if (!s->failed.load(std::memory_order_relaxed)) {
        std::uint64_t at = s->fileBytes.load(std::memory_order_relaxed);
        int err = 0;
        while (bytes > 0) {
            const ssize_t n =
                pwrite(s->fd, data, bytes, static_cast<off_t>(s->header.headerBytes + at));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                err = n < 0 ? errno : ENOSPC;
                break;
            }
            data += n;
            bytes -= static_cast<std::size_t>(n);
            at += static_cast<std::uint64_t>(n);
        }
        s->fileBytes.store(at, std::memory_order_release);
        if (bytes == 0) return;
        s->failed.store(true, std::memory_order_release);
        const std::string text = "recording spool: cannot write " + s->file + " (" +
                                 spool::ErrorText(err) +
                                 "); the rest of this recording is kept in memory";
        OutputDebugStringA(text.c_str());
    }
    std::lock_guard lock(s->tailMu);
    s->memoryTail.Append(data, bytes);
}

// Writer thread: writes what the ring holds.
std::uint64_t DrainRing(State* s) {
    const spool::ByteRing::Pieces held = s->ring->Peek();
    for (const auto piece : {held.first, held.second}) {
        if (!piece.empty()) Store(s, reinterpret_cast<const BYTE*>(piece.data()), piece.size());
    }
    s->ring->Pop(held.size());
    return held.size();
}

// Writer thread: everything appended so far, in order. The producer goes back to the ring
// only once the overflow list is empty, and what it put in the ring before the list began is
// written before the list (the ring is drained again after the list is taken).
std::uint64_t Drain(State* s) {
    std::uint64_t moved = DrainRing(s);
    while (s->overflowing.load(std::memory_order_acquire)) {
        std::deque<std::vector<BYTE>> list;
        {
            std::lock_guard lock(s->overflowMu);
            if (s->overflow.empty()) {
                s->overflowing.store(false, std::memory_order_release);
                break;
            }
            list.swap(s->overflow);
        }
        moved += DrainRing(s);
        for (const auto& block : list) {
            Store(s, block.data(), block.size());
            moved += block.size();
        }
    }
    return moved;
}

bool Pending(State* s) {
    return s->ring->Size() != 0 || s->overflowing.load();
}

// The writer thread's syncing: the file's new bytes, and once the spool's name in its folder,
// made durable at most every kSyncInterval.
struct Syncing {
    std::string folder;
    Clock::time_point last = Clock::now() - kSyncInterval;
    std::uint64_t synced = 0;
    bool folderSynced = false;

    // Syncs when bytes wait and their time has come; true while bytes still wait.
    bool Run(State* s) {
        const std::uint64_t written = s->fileBytes.load(std::memory_order_acquire);
        if (written == synced) return false;
        if (Clock::now() < last + kSyncInterval) return true;
        fdatasync(s->fd);
        if (!folderSynced) {
            if (const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                dir >= 0) {
                fsync(dir);
                close(dir);
            }
            folderSynced = true;
        }
        last = Clock::now();
        synced = written;
        return false;
    }
};

// The writer thread.
void WriterLoop(State* s, Syncing sync) {
    std::unique_lock l(s->mu);
    int idle = 0;
    while (!s->stop) {
        l.unlock();
        const std::uint64_t moved = Drain(s);
        l.lock();
        s->consumed += moved;
        if (moved > 0) s->doneCv.notify_all();
        // Flushers are released before the sync: they wait for the file, not for the disk.
        l.unlock();
        const bool unsynced = sync.Run(s);
        l.lock();
        if (s->stop) break;
        if (s->ring->Size() >= kHalfRing) continue;
        if (s->wake) {
            s->wake = false;
            idle = 0;
            continue;
        }
        idle = moved > 0 ? 0 : idle + 1;
        if (unsynced) {
            s->cv.wait_until(l, sync.last + kSyncInterval, [&] { return s->wake || s->stop; });
            continue;
        }
        if (idle < kIdleTicks) {
            s->cv.wait_for(l, kWriterTick, [&] { return s->wake || s->stop; });
            continue;
        }
        // Parked: the producer wakes the writer with its next append. Both sides store
        // before they look at the other's flag, so one of them sees the other.
        s->parked.store(true);
        if (Pending(s)) {
            s->parked.store(false);
            continue;
        }
        s->cv.wait(l, [&] { return s->wake || s->stop; });
        s->parked.store(false);
        idle = 0;
    }
}

void WakeWriter(State* s) {
    {
        std::lock_guard l(s->mu);
        s->wake = true;
    }
    s->cv.notify_one();
}

void StopWriter(State* s) {
    if (!s->writer.joinable()) return;
    {
        std::lock_guard l(s->mu);
        s->stop = true;
    }
    s->cv.notify_one();
    s->writer.join();
}

std::uint64_t Available(const State* s) {
    std::lock_guard lock(s->tailMu);
    return s->fileBytes.load(std::memory_order_acquire) + s->memoryTail.size();
}

// Reads up to `bytes` bytes from `offset` of the flushed bytes: the file's part, then the
// memory tail. Returns the bytes read; a read of the file that fails sets err.
std::size_t ReadAt(const State* s, std::uint64_t offset, BYTE* out, std::size_t bytes, int* err) {
    const std::uint64_t inFile = s->fileBytes.load(std::memory_order_acquire);
    std::size_t done = 0;
    while (done < bytes && offset < inFile) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes - done, inFile - offset));
        const ssize_t n =
            pread(s->fd, out + done, want, static_cast<off_t>(s->header.headerBytes + offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) *err = errno;
        if (n <= 0) return done;
        done += static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    if (done < bytes && offset >= inFile) {
        std::lock_guard lock(s->tailMu);
        done += s->memoryTail.Read(offset - inFile, out + done, bytes - done);
    }
    return done;
}

}  // namespace

RecordingSpool::RecordingSpool(std::unique_ptr<State> state) : s_(std::move(state)) {}

std::unique_ptr<RecordingSpool> RecordingSpool::Create(const std::string& dest,
                                                       const WAVEFORMATEX& format) {
    if (format.nBlockAlign == 0 || dest.size() > spool::kMaxDestinationBytes) return nullptr;
    std::string folder, why;
    if (!spool::MakeFolder(&folder, &why)) {
        SayNoSpool(why);
        return nullptr;
    }
    auto s = std::make_unique<State>();
    s->header.format = format;
    s->header.format.cbSize = 0;
    s->header.pid = static_cast<std::uint32_t>(getpid());
    s->header.startTime = static_cast<std::int64_t>(std::time(nullptr));
    s->header.destination = dest;
    const std::vector<BYTE> header = spool::EncodeHeader(s->header);
    s->header.headerBytes = static_cast<std::uint32_t>(header.size());

    // Made under a dot name, locked, given its header, and only then named as a spool, so
    // that recovery never sees a spool without its lock or its header.
    static std::atomic<unsigned> serial{0};
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    char name[96];
    std::snprintf(name, sizeof name, "%020lld-%u-%u",
                  static_cast<long long>(std::chrono::nanoseconds(now).count()),
                  static_cast<unsigned>(getpid()), serial.fetch_add(1));
    const std::string temporary = folder + "/." + name + ".new";
    s->file = folder + "/" + name + spool::kSuffix;
    const int fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    int err = 0;
    if (fd < 0) {
        SayNoSpool("cannot create " + temporary + ": " + spool::ErrorText(errno));
        return nullptr;
    }
    if (flock(fd, LOCK_EX) != 0 || !WriteAll(fd, header.data(), header.size(), &err) ||
        rename(temporary.c_str(), s->file.c_str()) != 0) {
        if (err == 0) err = errno;
        unlink(temporary.c_str());
        close(fd);
        SayNoSpool("cannot write " + temporary + ": " + spool::ErrorText(err));
        return nullptr;
    }
    s->fd = fd;
    s->ring = std::make_unique<spool::ByteRing>(State::kRingBytes);
    // The writer speaks for the recording's owner.
    s->writer = std::thread([raw = s.get(), folder, owner = GetThreadDebugOwner()] {
        SetThreadDebugOwner(owner);
        WriterLoop(raw, Syncing{folder});
    });
    return std::unique_ptr<RecordingSpool>(new RecordingSpool(std::move(s)));
}

void RecordingSpool::Append(const void* data, std::size_t bytes) {
    State* s = s_.get();
    if (s->orphan || bytes == 0) return;
    const auto* in = static_cast<const BYTE*>(data);
    if (!s->overflowing.load(std::memory_order_acquire)) {
        const std::size_t used = s->ring->Size();
        if (s->ring->Push(in, bytes)) {
            s->appended.fetch_add(bytes, std::memory_order_release);
            // The writer is woken when the ring crosses its half (it then drains for as long
            // as the ring stays above it) or when it sleeps with nothing to do: not per append.
            const bool crosses = used < kHalfRing && used + bytes >= kHalfRing;
            if (crosses || s->parked.load()) WakeWriter(s);
            return;
        }
    }
    // The writer is behind: the bytes wait in memory rather than the capture for the disk.
    {
        std::lock_guard lock(s->overflowMu);
        // Appends gather in blocks of kOverflowBlock: one allocation per block, not per buffer.
        if (s->overflow.empty() ||
            s->overflow.back().capacity() - s->overflow.back().size() < bytes) {
            s->overflow.emplace_back();
            s->overflow.back().reserve(std::max<std::size_t>(bytes, kOverflowBlock));
        }
        s->overflow.back().insert(s->overflow.back().end(), in, in + bytes);
        s->overflowing.store(true, std::memory_order_release);
    }
    s->appended.fetch_add(bytes, std::memory_order_release);
    WakeWriter(s);
}

std::uint64_t RecordingSpool::Length() const {
    return s_->appended.load(std::memory_order_acquire);
}

void RecordingSpool::Flush() {
    State* s = s_.get();
    if (s->orphan) return;
    const std::uint64_t target = s->appended.load(std::memory_order_acquire);
    std::unique_lock l(s->mu);
    if (s->consumed >= target) return;
    s->wake = true;
    s->cv.notify_one();
    s->doneCv.wait(l, [&] { return s->consumed >= target; });
}

std::size_t RecordingSpool::Read(std::uint64_t offset, void* buffer, std::size_t bytes) const {
    if (buffer == nullptr) return 0;
    int err = 0;
    return ReadAt(s_.get(), offset, static_cast<BYTE*>(buffer), bytes, &err);
}

DWORD RecordingSpool::WriteWav(const std::string& target, const WAVEFORMATEX& format,
                               std::uint64_t dataBytes, DWORD flags) {
    State* s = s_.get();
    dataBytes = std::min(dataBytes, Available(s));

    // Opened as the framework's file layer opens a WAV file for writing (no sharing; a
    // read-only file, a folder, a pipe or a file another handle holds is refused), so that a
    // spooled recording's stop fails where one held in memory fails.
    const HANDLE file = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr,
                                    (flags & kWriteNew) ? CREATE_NEW : CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    const int fd = talrec::kernel::DescriptorOf(file);
    int err = 0;
    const bool written = fd >= 0 && WriteWavFile(
                                        format, dataBytes,
                                        [&](DWORD offset, BYTE* piece, std::size_t bytes) {
                                            return ReadAt(s, offset, piece, bytes, &err);
                                        },
                                        [&](const BYTE* bytes, std::size_t count) {
                                            return WriteAll(fd, bytes, count, &err);
                                        });
    if (!written) {
        CloseHandle(file);
        // No descriptor: EBADF; a spool that gives less than it holds (its file cut short
        // meanwhile): EIO.
        return FileError(fd < 0 ? EBADF : err != 0 ? err : EIO);
    }
    if (!CloseHandle(file)) return GetLastError();

    if (target == s->header.destination && s->header.state != spool::kStateSaved) {
        // Written where it was meant to go: recovery has nothing left to do with it.
        BYTE saved[4] = {static_cast<BYTE>(spool::kStateSaved), 0, 0, 0};
        if (pwrite(s->fd, saved, sizeof saved, spool::kStateOffset) == sizeof saved) {
            s->header.state = spool::kStateSaved;
        }
    }
    return ERROR_SUCCESS;
}

bool RecordingSpool::Leave() {
    State* s = s_.get();
    if (s->orphan) return false;
    if (s->left) return true;
    const WAVEFORMATEX& format = s->header.format;
    if (Length() < std::max<WORD>(format.nBlockAlign, 1)) return false;
    Flush();
    StopWriter(s);
    // Recovery reads the file alone: what the disk would not take while recording is offered
    // to it once more. The bytes it takes are the tail's own, in order, so reads stay right
    // whether or not it takes them all.
    std::uint64_t missing = 0;
    {
        std::lock_guard lock(s->tailMu);
        const std::uint64_t inFile = s->fileBytes.load(std::memory_order_acquire);
        const std::uint64_t tail = s->memoryTail.size();
        std::vector<BYTE> piece(std::min<std::uint64_t>(tail, spool::MemoryTail::kBlockBytes));
        missing = tail;
        for (std::uint64_t at = 0; at < tail;) {
            const std::size_t n = s->memoryTail.Read(at, piece.data(), piece.size());
            const ssize_t w = pwrite(s->fd, piece.data(), n,
                                     static_cast<off_t>(s->header.headerBytes + inFile + at));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) break;
            at += static_cast<std::uint64_t>(w);
            missing = tail - at;
        }
        if (tail > 0 && missing == 0) {  // all in the file now
            s->fileBytes.store(inFile + tail, std::memory_order_release);
            s->memoryTail = spool::MemoryTail();
        }
    }
    fdatasync(s->fd);
    const std::size_t slash = s->file.rfind('/');
    const std::string folder = s->file.substr(0, slash);
    if (const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        fsync(dir);  // the spool's name lasts too
        close(dir);
    }
    flock(s->fd, LOCK_UN);
    s->left = true;

    const double rate = std::max<DWORD>(format.nAvgBytesPerSec, 1);
    std::string name = s->file.substr(slash + 1);
    name.resize(name.size() - (sizeof spool::kSuffix - 1));
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(Length()) / rate);
    std::string text = "recording spool: the recording meant for " + s->header.destination + " (" +
                       seconds + ") waits for 'talrec recover' as " + name + " in " + folder;
    if (missing > 0) {
        std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(missing) / rate);
        text += "; its last " + std::string(seconds) + ", which the disk did not take, are lost";
    }
    OutputDebugStringA(text.c_str());
    return true;
}

RecordingSpool::~RecordingSpool() {
    State* s = s_.get();
    if (s->keep) {
        if (!s->orphan) Flush();
    } else if (!s->left) {
        unlink(s->file.c_str());
    }
    StopWriter(s);
    close(s->fd);
}

void RecordingSpool::KeepFile(bool keep) {
    s_->keep = keep;
}

}  // namespace talrec::platform
