#include "audio/TakeStore.h"

#include <algorithm>
#include <cstring>

#include "platform/debugapi.h"
#include "platform/ext/wavformat.h"

using talrec::platform::RecordingSpool;

namespace {

// Spooled frames are loaded into memory in pieces of this size.
constexpr std::size_t kSpoolPiece = 1 << 20;
// Frames moved into a spool go in appends of this size, flushed every kSpoolFlushEvery: the
// spool's ring takes them without holding a second copy of the take aside.
constexpr std::size_t kSpoolAppend = 64 * 1024;
constexpr std::size_t kSpoolFlushEvery = 128 * 1024;

std::uint64_t FramesIn(std::uint64_t bytes, WORD align) {
    return bytes / std::max<WORD>(align, 1);
}

// Puts frames held in memory (`pieces`, their bytes in order) into a new recording spool for
// `destination` and leaves it for `talrec recover` (RecordingSpool::Leave says where). When no
// spool can be made, the debug output says that the take is lost.
void SpoolForRecovery(const std::string& destination, const WAVEFORMATEX& format,
                      std::span<const std::span<const BYTE>> pieces) {
    std::size_t bytes = 0;
    for (const auto& piece : pieces) bytes += piece.size();
    if (bytes == 0) return;  // nothing to keep
    const std::unique_ptr<RecordingSpool> spool = RecordingSpool::Create(destination, format);
    if (spool == nullptr) {
        const std::string text = "the recording meant for " + destination +
                                 " is lost: it was held in memory, and no recording spool can "
                                 "be made for it";
        OutputDebugStringA(text.c_str());
        return;
    }
    std::size_t sinceFlush = 0;
    for (const auto& piece : pieces) {
        for (std::size_t at = 0; at < piece.size(); at += kSpoolAppend) {
            const std::size_t n = std::min(kSpoolAppend, piece.size() - at);
            spool->Append(piece.data() + at, n);
            if ((sinceFlush += n) >= kSpoolFlushEvery) {
                spool->Flush();
                sinceFlush = 0;
            }
        }
    }
    spool->Leave();  // the spool goes, the left file stays
}

}  // namespace

std::unique_ptr<TakeStore> TakeStore::Create(const std::string& destination,
                                             const WAVEFORMATEX& format) {
    if (!destination.empty()) {
        if (WaveSpoolPtr spool = RecordingSpool::Create(destination, format)) {
            return std::make_unique<SpoolTakeStore>(std::move(spool), format.nBlockAlign);
        }
    }
    return std::make_unique<MemoryTakeStore>(format.nBlockAlign);
}

void TakeStore::Write(CFile& file, const WAVEFORMATEX& format, std::uint64_t bytes) const {
    const bool written = WriteWavFile(
        format, bytes,
        [&](DWORD offset, BYTE* piece, std::size_t want) {
            const std::size_t got = Read(offset, piece, want);
            std::memset(piece + got, 0, want - got);
            return want;
        },
        [&](const BYTE* data, std::size_t count) {
            file.Write(data, static_cast<UINT>(count));
            return true;
        });
    static_cast<void>(written);
}

// Memory.

void MemoryTakeStore::Append(const BYTE* data, std::size_t bytes) {
    std::lock_guard lock(lock_);
    while (bytes > 0) {
        const std::size_t at = chunkBytes_ % kChunkBytes;
        if (at == 0 && chunkBytes_ / kChunkBytes == chunks_.size()) {
            chunks_.push_back(std::make_unique_for_overwrite<BYTE[]>(kChunkBytes));
        }
        const std::size_t n = std::min(bytes, kChunkBytes - at);
        std::memcpy(chunks_.back().get() + at, data, n);
        chunkBytes_ += n;
        data += n;
        bytes -= n;
    }
}

std::uint64_t MemoryTakeStore::Frames() const {
    std::lock_guard lock(lock_);
    return joined_.GetNumSamples() + FramesIn(chunkBytes_, FrameBytes());
}

std::vector<std::span<const BYTE>> MemoryTakeStore::Pieces() const {
    std::vector<std::span<const BYTE>> pieces;
    if (joined_.GetBuffer() != nullptr) {
        pieces.emplace_back(joined_.GetBuffer(), static_cast<std::size_t>(joined_.GetNumSamples()) *
                                                     std::max(joined_.GetSampleSize(), 0));
    }
    std::lock_guard lock(lock_);
    for (std::size_t offset = 0, i = 0; offset < chunkBytes_; offset += kChunkBytes, ++i) {
        pieces.emplace_back(chunks_[i].get(), std::min(kChunkBytes, chunkBytes_ - offset));
    }
    return pieces;
}

std::size_t MemoryTakeStore::Read(std::uint64_t offset, BYTE* buffer, std::size_t bytes) const {
    std::size_t done = 0;
    for (const auto& piece : Pieces()) {
        if (done == bytes) break;
        if (offset >= piece.size()) {
            offset -= piece.size();
            continue;
        }
        const std::size_t n = std::min<std::size_t>(piece.size() - offset, bytes - done);
        std::memcpy(buffer + done, piece.data() + offset, n);
        done += n;
        offset = 0;
    }
    return done;
}

std::unique_ptr<MemoryTakeStore> MemoryTakeStore::Load() const {
    auto copy = std::make_unique<MemoryTakeStore>(FrameBytes());
    const auto frames = static_cast<DWORD>(Frames());
    copy->joined_.SetNumSamples(frames, FrameBytes());
    BYTE* to = copy->joined_.GetBuffer();
    for (const auto& piece : Pieces()) {
        std::memcpy(to, piece.data(), piece.size());
        to += piece.size();
    }
    return copy;
}

CWaveBuffer& MemoryTakeStore::Buffer() {
    std::lock_guard lock(lock_);
    if (chunkBytes_ == 0) return joined_;
    const std::size_t held = static_cast<std::size_t>(joined_.GetNumSamples()) * FrameBytes();
    const auto frames =
        static_cast<DWORD>(joined_.GetNumSamples() + FramesIn(chunkBytes_, FrameBytes()));
    CWaveBuffer block;
    block.SetNumSamples(frames, FrameBytes());
    if (held > 0) std::memcpy(block.GetBuffer(), joined_.GetBuffer(), held);
    for (std::size_t offset = 0, i = 0; offset < chunkBytes_; offset += kChunkBytes, ++i) {
        std::memcpy(block.GetBuffer() + held + offset, chunks_[i].get(),
                    std::min(kChunkBytes, chunkBytes_ - offset));
    }
    joined_ = std::move(block);
    chunks_.clear();
    chunkBytes_ = 0;
    return joined_;
}

void MemoryTakeStore::Save(LPCSTR path, const WAVEFORMATEX& format, std::uint64_t bytes) const {
    CFile file(path, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
    Write(file, format, bytes);
    file.Close();
}

void MemoryTakeStore::KeepForRecovery(const std::string& destination,
                                      const WAVEFORMATEX& format) const {
    SpoolForRecovery(destination, format, Pieces());
}

// Spool.

SpoolTakeStore::SpoolTakeStore(WaveSpoolPtr spool, WORD align)
    : TakeStore(align), spool_(std::move(spool)), fixed_(false), frames_(0) {}

SpoolTakeStore::SpoolTakeStore(WaveSpoolPtr spool, WORD align, std::uint64_t frames)
    : TakeStore(align), spool_(std::move(spool)), fixed_(true), frames_(frames) {}

void SpoolTakeStore::Append(const BYTE* data, std::size_t bytes) {
    spool_->Append(data, bytes);
}

std::uint64_t SpoolTakeStore::Frames() const {
    return fixed_ ? frames_ : FramesIn(spool_->Length(), FrameBytes());
}

std::size_t SpoolTakeStore::Read(std::uint64_t offset, BYTE* buffer, std::size_t bytes) const {
    const std::uint64_t held = Frames() * FrameBytes();
    if (offset >= held) return 0;
    return spool_->Read(offset, buffer, std::min<std::uint64_t>(bytes, held - offset));
}

std::unique_ptr<TakeStore> SpoolTakeStore::Snapshot() const {
    // Everything appended until now becomes the take's; the spool stays this store's too.
    if (!fixed_) spool_->Flush();
    return std::make_unique<SpoolTakeStore>(spool_, FrameBytes(), Frames());
}

std::unique_ptr<MemoryTakeStore> SpoolTakeStore::Load() const {
    auto memory = std::make_unique<MemoryTakeStore>(FrameBytes());
    CWaveBuffer& block = memory->Buffer();
    const auto frames = static_cast<DWORD>(Frames());
    block.SetNumSamples(frames, FrameBytes());
    const std::uint64_t bytes = static_cast<std::uint64_t>(frames) * FrameBytes();
    std::uint64_t done = 0;
    while (done < bytes) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes - done, kSpoolPiece));
        const std::size_t got = Read(done, block.GetBuffer() + done, want);
        done += got;
        if (got < want) break;
    }
    // A spool that gives less than it holds (its file damaged meanwhile) leaves silence, never
    // stale memory.
    if (done < bytes) std::memset(block.GetBuffer() + done, 0, bytes - done);
    return memory;
}

void SpoolTakeStore::Save(LPCSTR path, const WAVEFORMATEX& format, std::uint64_t bytes) const {
    // Failures raise what the file layer would raise for them.
    const DWORD error = path != nullptr ? spool_->WriteWav(path, format, bytes)
                                        : static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    if (error != ERROR_SUCCESS) {
        CFileException::ThrowOsError(static_cast<LONG>(error), path ? path : "");
    }
}

void SpoolTakeStore::KeepForRecovery(const std::string&, const WAVEFORMATEX&) const {
    spool_->Leave();
}
