// CWave in memory: format derivation, copies, and the 44-byte WAV layout through CMemFile.
#include <gtest/gtest.h>

#include <tuple>

#include "tests/audio/wave_file_util.h"

namespace {
using namespace wavetest;

Bytes Saved(CWave& w) {
    CMemFile file;
    w.Save(file);
    return file.GetContents();
}

// Loads bytes into the sound; returns the cause of a CFileException, or -1 when accepted.
int LoadBytes(CWave& w, const Bytes& bytes) {
    CMemFile file(bytes.data(), static_cast<UINT>(bytes.size()));
    try {
        w.Load(file);
    } catch (CFileException& e) {
        EXPECT_EQ(e.m_lOsError, -1);
        return e.m_cause;
    }
    return -1;
}

TEST(WaveFormat, SetFormatDerivesAlignAndRateAndEmptiesTheStore) {
    struct Case {
        WORD ch;
        DWORD rate;
        WORD bits, align;
        DWORD avg;
    };
    const Case cases[] = {
        {2, 22050, 16, 4, 88200},
        {1, 44100, 12, 1, 66150},                      // remainders dropped
        {65535, 4000000000u, 16, 0xFFFE, 321499136u},  // unsigned 32-bit arithmetic
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ch << "/" << c.rate << "/" << c.bits);
        CWave w = Sample();
        w.SetFormat(c.ch, c.rate, c.bits);
        const WAVEFORMATEX& f = w.GetFormat();
        EXPECT_EQ(std::make_tuple(f.wFormatTag, f.nChannels, f.nSamplesPerSec, f.nAvgBytesPerSec,
                                  f.nBlockAlign, f.wBitsPerSample),
                  std::make_tuple(WORD{WAVE_FORMAT_PCM}, c.ch, c.rate, c.avg, c.align, c.bits));
        EXPECT_EQ(w.GetNumSamples(), 0u);
    }
}

TEST(WaveFormat, CopiesAreDeepAndSelfAssignmentChangesNothing) {
    CWave original = Sample();
    const Snapshot before(original);
    CWave copy(original);
    CWave assigned;
    assigned = original;
    EXPECT_NE(copy.GetBuffer(), original.GetBuffer());
    EXPECT_NE(assigned.GetBuffer(), original.GetBuffer());
    original.GetBuffer()[0] ^= 0xFF;
    EXPECT_EQ(Snapshot(copy), before);
    EXPECT_EQ(Snapshot(assigned), before);

    CWave& alias = assigned;
    assigned = alias;
    EXPECT_EQ(Snapshot(assigned), before);
}

TEST(WaveLayout, HeaderIsTheFixed44Bytes) {
    CWave empty;  // 22050 Hz mono 16-bit, no frames
    Header h;
    h.channels = 1, h.avg = 44100, h.align = 2;
    EXPECT_EQ(Saved(empty), h.Build({}));

    CWave w;
    w.SetFormat(2, 22050, 16);
    const Bytes frames = Counting(4000);
    BYTE* block = new BYTE[frames.size()];
    std::copy(frames.begin(), frames.end(), block);
    w.SetBuffer(block, 1000, false);
    EXPECT_EQ(Saved(w), Header{}.Build(frames));  // RIFF size 4036, data size 4000
}

TEST(WaveLayout, RejectedFilesLeaveTheSoundUnchanged) {
    const Bytes samples = Counting(8);
    std::vector<std::pair<std::string, Bytes>> files;
    auto add = [&](const char* name, void (*change)(Header&)) {
        Header h;
        change(h);
        files.emplace_back(name, h.Build(samples));
    };
    add("big-endian RIFX", [](Header& h) { h.riff = "RIFX"; });
    add("fact before data", [](Header& h) { h.data = "fact"; });
    add("LIST before data", [](Header& h) { h.data = "LIST"; });
    add("block align 0", [](Header& h) { h.align = 0; });
    // An 18-byte fmt chunk moves "data" two bytes on.
    const Bytes whole = Header{}.Build(samples);
    Bytes fmt18 = whole;
    fmt18.insert(fmt18.begin() + 36, {0, 0});
    fmt18[16] = 18;
    files.emplace_back("18-byte fmt", fmt18);
    // Files that end before the end of the "data" tag.
    for (std::size_t n : {0, 12, 30, 39}) {
        files.emplace_back("cut at " + std::to_string(n), Bytes(whole.begin(), whole.begin() + n));
    }

    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        CWave w = Sample();
        const Snapshot before(w);
        EXPECT_EQ(LoadBytes(w, bytes), CFileException::invalidFile);
        EXPECT_EQ(Snapshot(w), before);
    }
}

TEST(WaveLayout, DataSizeIsBoundByWholeFramesAndByTheFile) {
    const Bytes samples = Counting(64);
    Header h;         // block align 4
    h.dataSize = 10;  // two whole frames; the two bytes after them are not read
    const Bytes ten = h.Build(samples);
    CMemFile file(ten.data(), static_cast<UINT>(ten.size()));
    CWave w;
    w.Load(file);
    EXPECT_EQ(Snapshot(w).samples, Bytes(samples.begin(), samples.begin() + 8));
    EXPECT_EQ(file.GetPosition(), 44u + 8u);

    // More declared than the file holds: the whole frames present, nothing invented.
    h.dataSize = 0xFFFFFFFC;
    ASSERT_EQ(LoadBytes(w, h.Build(Bytes(samples.begin(), samples.begin() + 22))), -1);
    EXPECT_EQ(Snapshot(w).samples, Bytes(samples.begin(), samples.begin() + 20));
}

}  // namespace
