// The 44-byte header of a PCM WAV file as this system writes it, in one place for every
// writer (the recorded sound, the virtual device's sink, the tests):
//   "RIFF", 36 + data bytes (+ pad), "WAVEfmt ", 16, format tag, channels, sample rate,
//   average bytes per second, block align, bits per sample, "data", data bytes.
// Numbers are little-endian. Written only against the format record, so both targets have it.
#pragma once

#include <array>

#include "platform/mmwave.h"

inline constexpr UINT kWavHeaderBytes = 44;

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
    le32(16);
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
