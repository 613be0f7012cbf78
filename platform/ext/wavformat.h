// The WAV file format in one place for every reader and writer of this system (the recorded
// sound, the conversion's reader, the virtual device's source and sink, the tests): its
// little-endian fields, the PCM format record, the format chunk's record and the 44-byte
// header this system writes:
//   "RIFF", 36 + data bytes (+ pad), "WAVEfmt ", 16, format tag, channels, sample rate,
//   average bytes per second, block align, bits per sample, "data", data bytes.
// Written only against the format record, so both targets have it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/mmwave.h"

inline constexpr UINT kWavHeaderBytes = 44;
// The format record's bytes in a "fmt " chunk: 16 for PCM, 18 with the extra-size field.
inline constexpr std::size_t kPcmFormatBytes = 16;
inline constexpr std::size_t kFormatRecordBytes = 18;

inline WORD LoadLE16(const BYTE* p) {
    return static_cast<WORD>(p[0] | (p[1] << 8));
}
inline DWORD LoadLE32(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
           (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}

// A PCM format record: block align = channels x bits / 8 and average bytes per second =
// channels x rate x bits / 8, in unsigned 32 bits with remainders dropped; no extra bytes.
inline WAVEFORMATEX MakePcmFormat(WORD channels, DWORD samplesPerSec, WORD bitsPerSample) {
    const DWORD channelBits = static_cast<DWORD>(channels) * bitsPerSample;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = samplesPerSec;
    format.nAvgBytesPerSec = static_cast<DWORD>(channelBits * samplesPerSec) / 8;
    format.nBlockAlign = static_cast<WORD>(channelBits / 8);
    format.wBitsPerSample = bitsPerSample;
    format.cbSize = 0;
    return format;
}

// The format record at the start of a "fmt " chunk's body of `size` bytes, in the 18-byte
// layout; a field the body does not reach reads as zero (a 16-byte PCM body has no extra size).
inline WAVEFORMATEX ReadFormatRecord(const BYTE* body, std::size_t size) {
    BYTE record[kFormatRecordBytes] = {};
    std::memcpy(record, body, size < sizeof record ? size : sizeof record);
    WAVEFORMATEX format{};
    format.wFormatTag = LoadLE16(record);
    format.nChannels = LoadLE16(record + 2);
    format.nSamplesPerSec = LoadLE32(record + 4);
    format.nAvgBytesPerSec = LoadLE32(record + 8);
    format.nBlockAlign = LoadLE16(record + 12);
    format.wBitsPerSample = LoadLE16(record + 14);
    format.cbSize = LoadLE16(record + 16);
    return format;
}

// Reads the 44-byte header in the fixed arrangement above: the tags at offsets 0, 8 and 36, and
// the 16 bytes after the format size taken as the PCM record whatever that size says. The
// RIFF and format sizes are not checked. False when a tag is not where it belongs.
inline bool ReadWavHeader(const BYTE (&header)[kWavHeaderBytes], WAVEFORMATEX* format,
                          DWORD* dataBytes) {
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVEfmt ", 8) != 0 ||
        std::memcmp(header + 36, "data", 4) != 0) {
        return false;
    }
    *format = ReadFormatRecord(header + 20, kPcmFormatBytes);
    *dataBytes = LoadLE32(header + 40);
    return true;
}

// Calls write(const BYTE* bytes, UINT count) once for each item of the header, in file order
// (13 calls), so that a writer of fields sees each field on its own. pad is the byte that
// keeps an odd-sized data chunk word-aligned, counted in the RIFF size only.
template <class Write>
void WriteWavHeader(const WAVEFORMATEX& format, DWORD dataBytes, Write&& write, DWORD pad = 0) {
    auto le16 = [&](WORD v) {
        const BYTE b[2] = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8)};
        write(b, 2u);
    };
    auto le32 = [&](DWORD v) {
        const BYTE b[4] = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8),
                           static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 24)};
        write(b, 4u);
    };
    static constexpr BYTE kRiff[4] = {'R', 'I', 'F', 'F'};
    static constexpr BYTE kWaveFmt[8] = {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    static constexpr BYTE kData[4] = {'d', 'a', 't', 'a'};
    write(kRiff, 4u);
    le32(kWavHeaderBytes - 8 + dataBytes + pad);
    write(kWaveFmt, 8u);
    le32(kPcmFormatBytes);
    le16(format.wFormatTag);
    le16(format.nChannels);
    le32(format.nSamplesPerSec);
    le32(format.nAvgBytesPerSec);
    le16(format.nBlockAlign);
    le16(format.wBitsPerSample);
    write(kData, 4u);
    le32(dataBytes);
}

// The header as one block.
inline std::array<BYTE, kWavHeaderBytes> WavHeader(const WAVEFORMATEX& format, DWORD dataBytes,
                                                   DWORD pad = 0) {
    std::array<BYTE, kWavHeaderBytes> header{};
    UINT at = 0;
    WriteWavHeader(
        format, dataBytes,
        [&](const BYTE* bytes, UINT count) {
            for (UINT i = 0; i < count; ++i) header[at++] = bytes[i];
        },
        pad);
    return header;
}

// The data bytes of a WAV file written for `dataBytes` bytes of sound: all of them, or at most
// the whole frames of `format` that the 32-bit RIFF size can still count.
inline DWORD WavFileDataBytes(const WAVEFORMATEX& format, std::uint64_t dataBytes) {
    const std::uint64_t align = (std::max<WORD>)(format.nBlockAlign, 1);
    const std::uint64_t limit = (0xFFFFFFFFull - (kWavHeaderBytes - 8)) / align * align;
    return static_cast<DWORD>((std::min)(dataBytes, limit));
}

// Writes one WAV file, the one writer of the system's WAV files: Begin puts the header down,
// Append the data in order as it comes, Finish the word-alignment pad (a zero byte after odd
// data, counted in the RIFF size only) when padOddData and, when the sizes the header gave no
// longer hold, the header again over the first. The data stops at the whole frames the 32-bit
// sizes can count (WavFileDataBytes, less a frame when the pad would not fit).
// write(const BYTE* bytes, std::size_t count) returns false when it failed; each call stops at
// the first write that fails.
template <class Write>
class WavFileWriter {
  public:
    WavFileWriter(const WAVEFORMATEX& format, Write write, bool padOddData = false)
        : format_(format), write_(static_cast<Write&&>(write)), pad_(padOddData) {
        limit_ = WavFileDataBytes(format_, ~std::uint64_t{0});
        if (pad_ && (limit_ & 1) != 0) limit_ -= (std::max<WORD>)(format_.nBlockAlign, 1);
    }

    // The header for `dataBytes` data bytes (capped as above); 0 when the length is known only
    // at the end. A file whose length is given here and appended in full is complete without
    // Finish (unless it is to be padded).
    [[nodiscard]] bool Begin(std::uint64_t dataBytes = 0) {
        declared_ = static_cast<DWORD>((std::min<std::uint64_t>)(dataBytes, limit_));
        written_ = 0;
        const auto header = WavHeader(format_, declared_);
        return write_(header.data(), header.size());
    }

    // Bytes past what the file can count are dropped, and count as taken.
    [[nodiscard]] bool Append(const BYTE* bytes, std::size_t count) {
        const DWORD take = static_cast<DWORD>((std::min<std::size_t>)(count, limit_ - written_));
        if (take == 0) return true;
        if (!write_(bytes, take)) return false;
        written_ += take;
        return true;
    }

    // The data bytes the header gives, and those appended so far.
    DWORD DeclaredBytes() const { return declared_; }
    DWORD DataBytes() const { return written_; }

    // Ends the file: the pad; then, if the header's sizes differ from the file's, rewind()
    // (which moves the writer back to the file's first byte, false when it cannot) and the
    // header again.
    template <class Rewind>
    [[nodiscard]] bool Finish(Rewind&& rewind) {
        const DWORD pad = pad_ ? (written_ & 1) : 0;
        if (pad != 0) {
            const BYTE zero = 0;
            if (!write_(&zero, 1u)) return false;
        }
        if (written_ == declared_ && pad == 0) return true;
        if (!rewind()) return false;
        const auto header = WavHeader(format_, written_, pad);
        return write_(header.data(), header.size());
    }

  private:
    WAVEFORMATEX format_;
    Write write_;
    bool pad_;
    DWORD limit_ = 0;
    DWORD declared_ = 0;
    DWORD written_ = 0;
};

// The data goes from reader to writer in pieces of at most this size.
inline constexpr std::size_t kWavFilePieceBytes = 1 << 20;

// Writes a whole WAV file of known length through WavFileWriter: the header for
// WavFileDataBytes(format, dataBytes) data bytes as one block, then those bytes in order. Each
// piece is taken by read(DWORD offset, BYTE* buffer, std::size_t bytes), which returns the
// bytes it gave, and handed to write(const BYTE* bytes, std::size_t count), which returns false
// when it failed; one piece is held at a time, never the whole sound. False at the first write
// that fails, or at a read that gives less than asked for once what it gave is written.
template <class Read, class Write>
[[nodiscard]] bool WriteWavFile(const WAVEFORMATEX& format, std::uint64_t dataBytes, Read&& read,
                                Write&& write) {
    WavFileWriter<Write&> file(format, write);
    if (!file.Begin(dataBytes)) return false;
    const DWORD data = file.DeclaredBytes();
    if (data == 0) return true;
    const std::size_t pieceBytes = (std::min<std::size_t>)(data, kWavFilePieceBytes);
    const std::unique_ptr<BYTE[]> piece(new BYTE[pieceBytes]);
    for (DWORD done = 0; done < data;) {
        const std::size_t want = (std::min<std::size_t>)(data - done, pieceBytes);
        const std::size_t got = read(done, piece.get(), want);
        if ((got > 0 && !file.Append(piece.get(), got)) || got != want) return false;
        done += static_cast<DWORD>(want);
    }
    return true;
}
