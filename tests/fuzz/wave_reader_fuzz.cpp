// Fuzz target for the CWave reader: arbitrary bytes are read as a WAV file from memory.
// Beyond what the sanitizers catch, it checks the reader's promises: a rejected file leaves
// the sound unchanged, an accepted one holds exactly the whole frames present in the file,
// and what it holds saves and reads back unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/Wave.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "wave reader broke its promise: %s\n", what);
    std::abort();
}

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > UINT32_MAX) return 0;
    CWave wave;
    wave.SetFormat(2, 22050, 16);
    const WAVEFORMATEX before = wave.GetFormat();
    CMemFile file(data, static_cast<UINT>(size));
    try {
        wave.Load(file);
    } catch (CFileException& e) {
        Require(e.m_cause == CFileException::invalidFile, "rejection with another cause");
        Require(e.m_lOsError == -1, "rejection with an OS error");
        Require(SameFormat(wave.GetFormat(), before), "format changed by a rejected file");
        Require(wave.GetNumSamples() == 0, "store changed by a rejected file");
        return 0;
    }

    const WAVEFORMATEX format = wave.GetFormat();
    Require(format.nBlockAlign != 0, "accepted block align 0");
    Require(format.cbSize == 0, "extra size kept");
    const std::size_t bytes = static_cast<std::size_t>(wave.GetNumSamples()) * format.nBlockAlign;
    Require(bytes == wave.GetBufferLength(), "buffer length is not frames x block align");
    // A file may end inside the data size field and still be read, with no frames.
    Require(size >= 40, "accepted a file that ends before the data tag");
    Require(bytes == 0 || (size >= 44 && bytes <= size - 44), "more frames than the file holds");
    Require(bytes == 0 || std::memcmp(wave.GetBuffer(), data + 44, bytes) == 0,
            "frames differ from the file");

    CMemFile saved;
    wave.Save(saved);
    Require(saved.GetLength() == 44 + bytes, "saved file is not 44 + N bytes");
    saved.SeekToBegin();
    CWave again;
    again.Load(saved);
    Require(SameFormat(again.GetFormat(), format), "format differs after a round trip");
    Require(again.GetNumSamples() == wave.GetNumSamples(), "frames differ after a round trip");
    Require(std::memcmp(again.GetBuffer(), wave.GetBuffer(), bytes) == 0,
            "samples differ after a round trip");
    return 0;
}
