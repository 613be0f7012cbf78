// TakeStore: where the frames of one take (a recorded sound) live. Two stores stand behind one
// interface: MemoryTakeStore holds them in memory, SpoolTakeStore in a recording spool's file,
// so that a long recording costs no memory and survives a crash of the process.
//
// A store is made for one frame size (the format's block align) and holds whole frames, in the
// order they were appended. It can
// - take frames (Append) while capture runs, and say how many it holds (Frames);
// - give them back (Read), or hand them over as a take of their own (Snapshot): a memory store
//   gives a joined copy, a spool store the same spool, whose first frames never change;
// - write them as a WAV file through the one writer of the system's WAV files (WriteWavFile):
//   to an open file (Write), or to a path (Save), failures raising CFileException as the file
//   layer raises them;
// - keep them for `talrec recover` when they will not reach their destination
//   (KeepForRecovery): a spool is left for recovery, frames in memory go into a new spool.
// The destination is not the store's: whoever owns the take passes it where it is needed.
//
// Threads. Append runs on one producer thread (the capture callback's); Frames may be called
// from any thread, also while the producer appends. Everything else runs on the owner's thread,
// one thread at a time, and only once the producer's last append has returned; so does the
// destructor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "audio/WaveBuffer.h"
#include "framework/afx.h"
#include "platform/ext/spool.h"
#include "platform/mmwave.h"

// A recording spool shared by the capture engine and the takes made from it; the last owner
// discards it (its file is removed).
using WaveSpoolPtr = std::shared_ptr<talrec::platform::RecordingSpool>;

class MemoryTakeStore;

class TakeStore {
  public:
    virtual ~TakeStore() = default;
    TakeStore(const TakeStore&) = delete;
    TakeStore& operator=(const TakeStore&) = delete;

    // A spool store for a recording meant for `destination` when one is given and the platform
    // makes a spool for it; otherwise a memory store.
    static std::unique_ptr<TakeStore> Create(const std::string& destination,
                                             const WAVEFORMATEX& format);

    // Producer thread: appends `bytes` bytes, whole frames of the store's frame size.
    virtual void Append(const BYTE* data, std::size_t bytes) = 0;
    // Any thread: the frames held.
    virtual std::uint64_t Frames() const = 0;
    // Up to `bytes` bytes from `offset`; returns the bytes read (fewer only past the end, or
    // from a spool whose file was damaged meanwhile). A spool store that takes appends gives
    // what its last Snapshot flushed.
    virtual std::size_t Read(std::uint64_t offset, BYTE* buffer, std::size_t bytes) const = 0;
    // The frames held now as a take of their own, which later appends do not change.
    virtual std::unique_ptr<TakeStore> Snapshot() const = 0;
    // This store when it holds its frames in memory, else null.
    virtual MemoryTakeStore* InMemory() { return nullptr; }
    // A memory store holding this store's frames; a spool's frames past what it can read are
    // silence.
    virtual std::unique_ptr<MemoryTakeStore> Load() const = 0;
    // Creates or truncates the file, write-only and without sharing, and writes the WAV file
    // of `format` with the first `bytes` bytes.
    virtual void Save(LPCSTR path, const WAVEFORMATEX& format, std::uint64_t bytes) const = 0;
    // Keeps the frames for `talrec recover`, for when they could not be written to
    // `destination`; the store itself stays as it is.
    virtual void KeepForRecovery(const std::string& destination,
                                 const WAVEFORMATEX& format) const = 0;

    WORD FrameBytes() const { return align_; }
    // Writes the WAV file of `format` with the first `bytes` bytes at the file's position.
    // Write failures raise what the file raises; reads never fall short: what the store cannot
    // give is written as silence.
    void Write(CFile& file, const WAVEFORMATEX& format, std::uint64_t bytes) const;

  protected:
    explicit TakeStore(WORD align) : align_(align) {}

  private:
    WORD align_;
};

// Frames in memory: one block (Buffer, the storage of a CWave) followed by the frames appended
// since, in blocks of kChunkBytes (one allocation per block, however small the appends).
class MemoryTakeStore final : public TakeStore {
  public:
    static constexpr std::size_t kChunkBytes = 1 << 20;

    // No frames and, until it is sized, no storage.
    explicit MemoryTakeStore(WORD align) : TakeStore(align) {}

    void Append(const BYTE* data, std::size_t bytes) override;
    std::uint64_t Frames() const override;
    std::size_t Read(std::uint64_t offset, BYTE* buffer, std::size_t bytes) const override;
    std::unique_ptr<TakeStore> Snapshot() const override { return Load(); }
    MemoryTakeStore* InMemory() override { return this; }
    std::unique_ptr<MemoryTakeStore> Load() const override;
    void Save(LPCSTR path, const WAVEFORMATEX& format, std::uint64_t bytes) const override;
    void KeepForRecovery(const std::string& destination, const WAVEFORMATEX& format) const override;

    // The frames as one block: appended blocks are joined into it first. Owner's thread.
    CWaveBuffer& Buffer();

  private:
    // The frames' bytes in order, as spans.
    std::vector<std::span<const BYTE>> Pieces() const;

    CWaveBuffer joined_;
    mutable std::mutex lock_;  // guards chunks_ and chunkBytes_
    std::vector<std::unique_ptr<BYTE[]>> chunks_;
    std::size_t chunkBytes_ = 0;  // the bytes of all chunks, whole frames
};

// Frames in a recording spool. While it takes appends, it holds whatever the spool holds; a
// snapshot holds a fixed number of the spool's first frames, flushed, which never change.
class SpoolTakeStore final : public TakeStore {
  public:
    // A store holding what the spool holds, taking appends.
    SpoolTakeStore(WaveSpoolPtr spool, WORD align);
    // A store holding the first `frames` frames of the flushed spool.
    SpoolTakeStore(WaveSpoolPtr spool, WORD align, std::uint64_t frames);

    void Append(const BYTE* data, std::size_t bytes) override;
    std::uint64_t Frames() const override;
    std::size_t Read(std::uint64_t offset, BYTE* buffer, std::size_t bytes) const override;
    // Flushes the spool first when this store takes appends.
    std::unique_ptr<TakeStore> Snapshot() const override;
    std::unique_ptr<MemoryTakeStore> Load() const override;
    // Written from the spool's file to the new one, without loading it.
    void Save(LPCSTR path, const WAVEFORMATEX& format, std::uint64_t bytes) const override;
    void KeepForRecovery(const std::string& destination, const WAVEFORMATEX& format) const override;

  private:
    const WaveSpoolPtr spool_;
    const bool fixed_;
    const std::uint64_t frames_;  // when fixed_
};
