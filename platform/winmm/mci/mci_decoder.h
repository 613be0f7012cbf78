// The decoder behind the "MPEGVideo" device: one audio stream of one local file, decoded with
// FFmpeg and converted to interleaved PCM in the format the wave output is given.
//
// Not thread-safe: one thread at a time uses a decoder (the device serialises access).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/mci.h"

namespace talrec::mci {

// Interleaved PCM: 8-bit unsigned or 16-bit signed little-endian samples.
struct PcmFormat {
    int rate = 0;
    int channels = 0;
    int bits = 0;

    int FrameBytes() const { return channels * bits / 8; }
    bool operator==(const PcmFormat&) const = default;
};

class MediaDecoder {
  public:
    // Opens the file's best audio stream. Only the file itself is read: no network or other
    // protocol, and no other file it may name. Returns 0, MCIERR_FILE_NOT_FOUND (no such
    // file), MCIERR_INVALID_FILE (not a regular file, no audio stream FFmpeg can decode) or
    // MCIERR_OUT_OF_MEMORY; on success `out` holds the decoder. When FFmpeg refuses the file,
    // *why (if given) receives FFmpeg's error text.
    static MCIERROR Open(const char* path, std::unique_ptr<MediaDecoder>& out,
                         std::string* why = nullptr);

    ~MediaDecoder();
    MediaDecoder(const MediaDecoder&) = delete;
    MediaDecoder& operator=(const MediaDecoder&) = delete;

    // The format closest to the stream's own that the output takes in general: its rate, at
    // most two channels, 8 bits for 8-bit sources and 16 bits otherwise.
    PcmFormat NaturalFormat() const;

    // The stream's length in milliseconds, as the container tells it (0 if unknown).
    DWORD LengthMs() const;

    // Sets the format Read produces (NaturalFormat until then); called before the first Read.
    // Returns false for a format other than 1 or 2 channels of 8 or 16 bits.
    bool SetOutputFormat(const PcmFormat& format);
    const PcmFormat& OutputFormat() const;

    // Fills dst with up to `bytes` bytes of whole frames; returns the bytes written, fewer
    // only at the end of the stream (then 0 on every later call). Packets that fail to decode
    // are skipped, as players do.
    std::size_t Read(std::uint8_t* dst, std::size_t bytes);

    // True once Read has returned everything.
    bool AtEnd() const;

    // Frames handed out by Read since the start of the stream.
    std::uint64_t FramesRead() const;

    // Back to the first sample. Returns false if the file cannot be rewound.
    bool Rewind();

  private:
    struct Impl;
    explicit MediaDecoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace talrec::mci
