// Fuzz target for the conversion's WAV chunk reader: arbitrary bytes are opened as a WAV file
// from memory, through the same file I/O calls as a file on disk. Beyond what the sanitizers
// catch, it checks the reader's promises: a rejected file leaves nothing held; an accepted one
// holds a format block of at least 18 bytes (PCM with extra size 0, any other format with
// every byte its extra size claims) and a non-empty data chunk that starts inside the file; and
// the first block of the data can be positioned and read as the conversion does.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "convert/WavReader.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "WAV chunk reader broke its promise: %s\n", what);
    std::abort();
}

WORD Word(const std::vector<BYTE>& b, size_t at) {
    return static_cast<WORD>(b[at] | (b[at + 1] << 8));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    mmioSetStreamOpener([data, size](LPCSTR) { return MmioMemoryStream(data, size); });
    CWavReader reader;
    const int result = reader.Open("input.wav");
    mmioSetStreamOpener(nullptr);
    if (result != 1) {
        Require(result == -1, "a result other than 1 or -1");
        Require(reader.m_hmmio == nullptr, "file left open after a rejection");
        Require(reader.m_format.empty(), "format block held after a rejection");
        Require(reader.m_dataSize == 0, "data size held after a rejection");
        return 0;
    }
    Require(reader.m_hmmio != nullptr, "accepted without an open file");
    Require(reader.m_format.size() >= 18, "format block shorter than 18 bytes");
    if (Word(reader.m_format, 0) == 1) {
        Require(Word(reader.m_format, 16) == 0, "PCM extra size not cleared");
    } else {
        Require(reader.m_format.size() >= 18u + Word(reader.m_format, 16),
                "extra size claims bytes the block does not hold");
    }
    Require(reader.m_dataSize != 0, "accepted an empty data chunk");
    Require(reader.m_dataOffset >= 20 && reader.m_dataOffset <= size,
            "data offset outside the file");

    // The conversion's first block.
    std::vector<char> block(16384);
    const DWORD want = reader.m_dataSize < 16384 ? reader.m_dataSize : 16384;
    Require(mmioSeek(reader.m_hmmio, static_cast<LONG>(reader.m_dataOffset), SEEK_SET) ==
                static_cast<LONG>(reader.m_dataOffset),
            "cannot seek to the data");
    const LONG got = mmioRead(reader.m_hmmio, block.data(), static_cast<LONG>(want));
    const std::size_t present = size - reader.m_dataOffset;
    Require(got == static_cast<LONG>(want < present ? want : present), "read the wrong count");
    reader.Close();
    Require(reader.m_hmmio == nullptr && reader.m_format.empty(), "close left something held");
    return 0;
}
