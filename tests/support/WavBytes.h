// The tests' one builder of WAV files, byte by byte: a well-formed file with the system's own
// 44-byte header (platform/ext/wavformat.h), and the parts to build any other RIFF file with,
// broken ones included: chunks with declared sizes of their own, format records of any size,
// and the 44-byte layout field by field.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ext/wavformat.h"

namespace wavbytes {

inline std::string LE16(std::uint16_t v) {
    return {char(v & 0xFF), char(v >> 8)};
}
inline std::string LE32(std::uint32_t v) {
    return {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}

// A PCM WAV file as this system writes it: the 44-byte header, then the data.
inline std::string Wav(const WAVEFORMATEX& format, std::string_view data) {
    const auto header = WavHeader(format, static_cast<DWORD>(data.size()));
    return std::string(header.begin(), header.end()) + std::string(data);
}

// The format record of PCM (or another tag) with the derived rate and block align.
inline WAVEFORMATEX Format(WORD channels, DWORD rate, WORD bits, WORD tag = WAVE_FORMAT_PCM) {
    const WORD align = static_cast<WORD>(channels * bits / 8);
    return WAVEFORMATEX{tag, channels, rate, rate * align, align, bits, 0};
}

struct Chunk {
    Chunk(std::string i, std::string b, std::optional<std::uint32_t> d = std::nullopt)
        : id(std::move(i)), body(std::move(b)), declared(d) {}
    std::string id;
    std::string body;
    std::optional<std::uint32_t> declared;  // size written in the header; the body's if absent
};

// The chunk with its header and, for an odd size, its pad byte.
inline std::string Bytes(const Chunk& c) {
    std::string out = c.id + LE32(c.declared.value_or(static_cast<std::uint32_t>(c.body.size())));
    out += c.body;
    if (c.body.size() % 2 == 1) out += '\0';
    return out;
}

// A RIFF file of the given form type holding the chunks; its declared size counts the form
// type and the chunks unless given.
inline std::string Riff(const std::vector<Chunk>& chunks,
                        std::optional<std::uint32_t> declared = std::nullopt,
                        const std::string& form = "WAVE") {
    std::string inner = form;
    for (const Chunk& c : chunks) inner += Bytes(c);
    return "RIFF" + LE32(declared.value_or(static_cast<std::uint32_t>(inner.size()))) + inner;
}

// A format record: tag, channels, rate, derived rate and block align, bits; size 16 or more.
inline std::string Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                       std::uint16_t bits, size_t size = 16, std::uint16_t cbSize = 0) {
    const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
    std::string s =
        LE16(tag) + LE16(channels) + LE32(rate) + LE32(rate * align) + LE16(align) + LE16(bits);
    if (size >= 18) s += LE16(cbSize);
    s.resize(size, '\x55');  // bytes past the record, recognisable
    return s;
}

inline Chunk PcmFmt(std::uint16_t channels = 2, std::uint32_t rate = 22050,
                    std::uint16_t bits = 16) {
    return {"fmt ", Fmt(1, channels, rate, bits)};
}

inline Chunk Data(size_t bytes, char fill = '\x11') {
    return {"data", std::string(bytes, fill)};
}

// Bytes 0, 1, 2, ... so that a reordered or repeated block shows.
inline Chunk CountingData(size_t bytes) {
    std::string s(bytes, '\0');
    for (size_t i = 0; i < bytes; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return {"data", s};
}

// The 44-byte layout field by field, each of which a test may set to anything (a wrong tag,
// a size that does not match), followed by the sample bytes.
struct Header {
    const char* riff = "RIFF";
    DWORD riffSize = 0xFFFFFFFF;  // 0xFFFFFFFF: computed
    const char* waveFmt = "WAVEfmt ";
    DWORD fmtSize = 16;
    WORD tag = 1, channels = 2;
    DWORD rate = 22050, avg = 88200;
    WORD align = 4, bits = 16;
    const char* data = "data";
    DWORD dataSize = 0xFFFFFFFF;  // 0xFFFFFFFF: the samples' length

    std::string Build(std::string_view samples) const {
        const DWORD n = dataSize == 0xFFFFFFFF ? static_cast<DWORD>(samples.size()) : dataSize;
        return riff + LE32(riffSize == 0xFFFFFFFF ? 36 + n : riffSize) + waveFmt + LE32(fmtSize) +
               LE16(tag) + LE16(channels) + LE32(rate) + LE32(avg) + LE16(align) + LE16(bits) +
               data + LE32(n) + std::string(samples);
    }
};

inline void Save(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace wavbytes
