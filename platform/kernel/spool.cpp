// Recording spools while they are live: the hand-off from the capture thread, the writer and
// sync threads, reading back, and writing the WAV file.
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
#include "platform/kernel/spool_internal.h"

namespace talrec::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The writer takes what the ring holds this often, or at once when it is half full, and
// then wakes the sync thread, which makes the new bytes durable (at most once per interval).
// Together: a byte appended is on the disk within about a second, at two wake-ups a second.
constexpr auto kWriterTick = 800ms;
constexpr auto kSyncInterval = 750ms;
constexpr std::size_t kHalfRing = SPOOL::kRingBytes / 2;
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
void Store(SPOOL* s, const BYTE* data, std::size_t bytes) {
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
std::uint64_t DrainRing(SPOOL* s) {
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
std::uint64_t Drain(SPOOL* s) {
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

bool Pending(SPOOL* s) {
    return s->ring->Size() != 0 || s->overflowing.load();
}

// The writer thread.
void WriterLoop(SPOOL* s) {
    std::unique_lock l(s->mu);
    int idle = 0;
    while (!s->stop) {
        l.unlock();
        const std::uint64_t moved = Drain(s);
        if (moved > 0) {
            bool idle;
            {
                std::lock_guard sync(s->syncMu);
                s->written = s->fileBytes.load(std::memory_order_acquire);
                idle = s->syncIdle;
            }
            // A sync thread that is counting down to its next sync will see the new bytes then.
            if (idle) s->syncCv.notify_one();
        }
        l.lock();
        s->consumed += moved;
        if (moved > 0) s->doneCv.notify_all();
        if (s->stop) break;
        if (s->ring->Size() >= kHalfRing) continue;
        if (s->wake) {
            s->wake = false;
            idle = 0;
            continue;
        }
        idle = moved > 0 ? 0 : idle + 1;
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

// The sync thread: makes the file's new bytes durable, at most every kSyncInterval.
void SyncLoop(SPOOL* s, const std::string& folder) {
    bool folderSynced = false;
    auto last = Clock::now() - kSyncInterval;
    std::unique_lock l(s->syncMu);
    for (;;) {
        s->syncIdle = true;
        s->syncCv.wait(l, [&] { return s->stopSync || s->written > s->synced; });
        s->syncIdle = false;
        if (s->stopSync) return;
        if (s->syncCv.wait_until(l, last + kSyncInterval, [&] { return s->stopSync; })) return;
        const std::uint64_t target = s->written;
        l.unlock();
        fdatasync(s->fd);
        if (!folderSynced) {
            // The spool's name in its folder must last too.
            const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dir >= 0) {
                fsync(dir);
                close(dir);
            }
            folderSynced = true;
        }
        last = Clock::now();
        l.lock();
        s->synced = target;
    }
}

void WakeWriter(SPOOL* s) {
    {
        std::lock_guard l(s->mu);
        s->wake = true;
    }
    s->cv.notify_one();
}

void StopThreads(SPOOL* s) {
    if (s->writer.joinable()) {
        {
            std::lock_guard l(s->mu);
            s->stop = true;
        }
        s->cv.notify_one();
        s->writer.join();
    }
    if (s->syncer.joinable()) {
        {
            std::lock_guard l(s->syncMu);
            s->stopSync = true;
        }
        s->syncCv.notify_one();
        s->syncer.join();
    }
}

std::uint64_t Available(HSPOOL s) {
    std::lock_guard lock(s->tailMu);
    return s->fileBytes.load(std::memory_order_acquire) + s->memoryTail.size();
}

// Copies `bytes` bytes of the spool's file part from `offset` to out's position: in the
// kernel where it can, else through a buffer. False with err set.
bool CopyFilePart(HSPOOL s, std::uint64_t offset, std::uint64_t bytes, int out, int* err) {
    loff_t in = static_cast<loff_t>(s->header.headerBytes + offset);
    bool kernel = true;
    std::unique_ptr<BYTE[]> buffer;
    constexpr std::size_t kChunk = 1 << 20;
    while (bytes > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, 1 << 30));
        if (kernel) {
            const ssize_t n = copy_file_range(s->fd, &in, out, nullptr, want, 0);
            if (n > 0) {
                bytes -= static_cast<std::uint64_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
                errno != EOPNOTSUPP && errno != EPERM) {
                *err = errno;
                return false;
            }
            if (n == 0) {
                *err = EIO;  // the spool file is shorter than it said
                return false;
            }
            kernel = false;
            buffer = std::make_unique<BYTE[]>(kChunk);
        }
        const ssize_t n = pread(s->fd, buffer.get(), std::min(want, kChunk), in);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *err = n < 0 ? errno : EIO;
            return false;
        }
        if (!WriteAll(out, buffer.get(), static_cast<std::size_t>(n), err)) return false;
        in += n;
        bytes -= static_cast<std::uint64_t>(n);
    }
    return true;
}

}  // namespace

HSPOOL SpoolCreate(LPCSTR destination, const WAVEFORMATEX& format) {
    const std::string dest = destination != nullptr ? destination : "";
    if (format.nBlockAlign == 0 || dest.size() > spool::kMaxDestinationBytes) return nullptr;
    std::string folder, why;
    if (!spool::MakeFolder(&folder, &why)) {
        SayNoSpool(why);
        return nullptr;
    }
    auto s = std::make_unique<SPOOL>();
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
    s->ring = std::make_unique<spool::ByteRing>(SPOOL::kRingBytes);
    SPOOL* raw = s.get();
    // Both speak for the recording's owner.
    const ULONGLONG owner = GetThreadDebugOwner();
    s->writer = std::thread([raw, owner] {
        SetThreadDebugOwner(owner);
        WriterLoop(raw);
    });
    s->syncer = std::thread([raw, folder, owner] {
        SetThreadDebugOwner(owner);
        SyncLoop(raw, folder);
    });
    return s.release();
}

void SpoolAppend(HSPOOL s, const void* data, DWORD bytes) {
    if (s == nullptr || s->orphan || bytes == 0) return;
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

std::uint64_t SpoolLength(HSPOOL s) {
    return s != nullptr ? s->appended.load(std::memory_order_acquire) : 0;
}

void SpoolFlush(HSPOOL s) {
    if (s == nullptr || s->orphan) return;
    const std::uint64_t target = s->appended.load(std::memory_order_acquire);
    std::unique_lock l(s->mu);
    if (s->consumed >= target) return;
    s->wake = true;
    s->cv.notify_one();
    s->doneCv.wait(l, [&] { return s->consumed >= target; });
}

DWORD SpoolRead(HSPOOL s, std::uint64_t offset, void* buffer, DWORD bytes) {
    if (s == nullptr || buffer == nullptr) return 0;
    auto* out = static_cast<BYTE*>(buffer);
    const std::uint64_t inFile = s->fileBytes.load(std::memory_order_acquire);
    DWORD done = 0;
    while (done < bytes && offset < inFile) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes - done, inFile - offset));
        const ssize_t n =
            pread(s->fd, out + done, want, static_cast<off_t>(s->header.headerBytes + offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done;
        done += static_cast<DWORD>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    if (done < bytes && offset >= inFile) {
        std::lock_guard lock(s->tailMu);
        done += static_cast<DWORD>(s->memoryTail.Read(offset - inFile, out + done, bytes - done));
    }
    return done;
}

DWORD SpoolWriteWav(HSPOOL s, LPCSTR path, const WAVEFORMATEX& format, std::uint64_t dataBytes,
                    DWORD flags) {
    if (s == nullptr || path == nullptr) return ERROR_INVALID_PARAMETER;
    // A WAV file declares its sizes in 32 bits: at most the whole frames that fit.
    const std::uint64_t align = std::max<WORD>(format.nBlockAlign, 1);
    const std::uint64_t limit = (0xFFFFFFFFull - (kWavHeaderBytes - 8)) / align * align;
    dataBytes = std::min({dataBytes, Available(s), limit});

    const std::string target = path;
    // Opened as the framework's file layer opens a WAV file for writing (no sharing; a
    // read-only file, a folder, a pipe or a file another handle holds is refused), so that a
    // spooled recording's stop fails where one held in memory fails.
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr,
                                    (flags & SPOOL_WRITE_NEW) ? CREATE_NEW : CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    const int fd = talrec::kernel::DescriptorOf(file);
    auto fail = [file](int err) {
        CloseHandle(file);
        return FileError(err);
    };
    if (fd < 0) return fail(EBADF);

    const auto header = WavHeader(format, static_cast<DWORD>(dataBytes));
    int err = 0;
    if (!WriteAll(fd, header.data(), header.size(), &err)) return fail(err);
    const std::uint64_t inFile = std::min(dataBytes, s->fileBytes.load(std::memory_order_acquire));
    if (!CopyFilePart(s, 0, inFile, fd, &err)) return fail(err);
    if (dataBytes > inFile) {
        std::lock_guard lock(s->tailMu);
        std::unique_ptr<BYTE[]> buffer = std::make_unique<BYTE[]>(spool::MemoryTail::kBlockBytes);
        for (std::uint64_t at = 0; at < dataBytes - inFile;) {
            const std::size_t n =
                s->memoryTail.Read(at, buffer.get(),
                                   static_cast<std::size_t>(std::min<std::uint64_t>(
                                       spool::MemoryTail::kBlockBytes, dataBytes - inFile - at)));
            if (n == 0) return fail(EIO);
            if (!WriteAll(fd, buffer.get(), n, &err)) return fail(err);
            at += n;
        }
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

BOOL SpoolLeave(HSPOOL s) {
    if (s == nullptr || s->orphan) return FALSE;
    if (s->left) return TRUE;
    const WAVEFORMATEX& format = s->header.format;
    if (SpoolLength(s) < std::max<WORD>(format.nBlockAlign, 1)) return FALSE;
    SpoolFlush(s);
    StopThreads(s);
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
    std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(SpoolLength(s)) / rate);
    std::string text = "recording spool: the recording meant for " + s->header.destination + " (" +
                       seconds + ") waits for 'talrec recover' as " + name + " in " + folder;
    if (missing > 0) {
        std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(missing) / rate);
        text += "; its last " + std::string(seconds) + ", which the disk did not take, are lost";
    }
    OutputDebugStringA(text.c_str());
    return TRUE;
}

void SpoolDiscard(HSPOOL s) {
    if (s == nullptr) return;
    if (!s->left) unlink(s->file.c_str());
    StopThreads(s);
    close(s->fd);
    delete s;
}

void SpoolRelease(HSPOOL s) {
    if (s == nullptr) return;
    if (!s->orphan) {
        SpoolFlush(s);
        StopThreads(s);
    }
    close(s->fd);
    delete s;
}

}  // namespace talrec::platform
