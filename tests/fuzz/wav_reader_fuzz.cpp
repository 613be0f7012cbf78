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
#include "platform/ext/mmiostream.h"

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
        Require(reader.file == nullptr, "file left open after a rejection");
        Require(reader.formatBlock.empty(), "format block held after a rejection");
        Require(reader.dataSize == 0, "data size held after a rejection");
        return 0;
    }
    Require(reader.file != nullptr, "accepted without an open file");
    Require(reader.formatBlock.size() >= 18, "format block shorter than 18 bytes");
    if (Word(reader.formatBlock, 0) == 1) {
        Require(Word(reader.formatBlock, 16) == 0, "PCM extra size not cleared");
    } else {
        Require(reader.formatBlock.size() >= 18u + Word(reader.formatBlock, 16),
                "extra size claims bytes the block does not hold");
    }
    Require(reader.dataSize != 0, "accepted an empty data chunk");
    Require(reader.dataOffset >= 20 && reader.dataOffset <= size, "data offset outside the file");

    // The conversion's first block.
    std::vector<char> block(16384);
    const DWORD want = reader.dataSize < 16384 ? reader.dataSize : 16384;
    Require(mmioSeek(reader.file, static_cast<LONG>(reader.dataOffset), SEEK_SET) ==
                static_cast<LONG>(reader.dataOffset),
            "cannot seek to the data");
    const LONG got = mmioRead(reader.file, block.data(), static_cast<LONG>(want));
    const std::size_t present = size - reader.dataOffset;
    Require(got == static_cast<LONG>(want < present ? want : present), "read the wrong count");
    reader.Close();
    Require(reader.file == nullptr && reader.formatBlock.empty(), "close left something held");
    return 0;
}
