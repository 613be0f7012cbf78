// CWave in memory: format rules, copies, and the WAV layout written and read through CMemFile.
#include <gtest/gtest.h>

#include <memory>

#include "tests/audio/wave_file_util.h"

namespace {
using namespace wavetest;

void ExpectFormat(const WAVEFORMATEX& f, WORD tag, WORD ch, DWORD rate, DWORD avg, WORD align,
                  WORD bits) {
    EXPECT_EQ(f.wFormatTag, tag);
    EXPECT_EQ(f.nChannels, ch);
    EXPECT_EQ(f.nSamplesPerSec, rate);
    EXPECT_EQ(f.nAvgBytesPerSec, avg);
    EXPECT_EQ(f.nBlockAlign, align);
    EXPECT_EQ(f.wBitsPerSample, bits);
}

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

// A file that records the size of every write.
class WriteLog : public CMemFile {
  public:
    void Write(const void* p, UINT n) override {
        sizes.push_back(n);
        CMemFile::Write(p, n);
    }
    std::vector<UINT> sizes;
};

TEST(WaveFormat, DefaultsAndTheirFile) {
    CWave w;
    ExpectFormat(w.GetFormat(), 1, 1, 22050, 44100, 2, 16);
    EXPECT_EQ(w.GetFormat().cbSize, 0);
    EXPECT_EQ(w.GetBuffer(), nullptr);
    EXPECT_EQ(w.GetNumSamples(), 0u);
    EXPECT_EQ(w.GetBufferLength(), 0u);

    Header h;
    h.channels = 1, h.avg = 44100, h.align = 2;
    EXPECT_EQ(Saved(w), h.Build({}));
}

TEST(WaveFormat, SetFormatDerivesAlignAndRateAndAlwaysEmptiesTheStore) {
    struct Case {
        WORD ch;
        DWORD rate;
        WORD bits;
        WORD align;
        DWORD avg;
    };
    const Case cases[] = {
        {2, 22050, 16, 4, 88200},
        {1, 8000, 8, 1, 8000},
        {1, 44100, 12, 1, 66150},
        // Unsigned 32-bit arithmetic, remainders dropped.
        {1, 1, 1, 0, 0},
        {65535, 4000000000u, 16, 0xFFFE, 321499136u},  // (65535 * 16 * 4e9) mod 2^32 / 8
    };
    for (const Case& c : cases) {
        CWave w = Sample();
        w.SetFormat(c.ch, c.rate, c.bits);
        SCOPED_TRACE(testing::Message() << c.ch << "/" << c.rate << "/" << c.bits);
        ExpectFormat(w.GetFormat(), 1, c.ch, c.rate, c.avg, c.align, c.bits);
        EXPECT_EQ(w.GetNumSamples(), 0u);
        EXPECT_EQ(w.GetBufferLength(), 0u);
    }
    // The same format again still empties the store.
    CWave w = Sample();
    w.SetFormat(2, 11025, 8);
    EXPECT_EQ(w.GetNumSamples(), 0u);
}

TEST(WaveFormat, CopiesAreDeepAndSelfAssignmentChangesNothing) {
    CWave original = Sample();
    const Snapshot before(original);

    CWave copy(original);
    EXPECT_EQ(Snapshot(copy), before);
    EXPECT_NE(copy.GetBuffer(), original.GetBuffer());

    CWave assigned;
    assigned = original;
    EXPECT_EQ(Snapshot(assigned), before);
    EXPECT_NE(assigned.GetBuffer(), original.GetBuffer());

    original.GetBuffer()[0] ^= 0xFF;
    EXPECT_EQ(Snapshot(copy), before);
    EXPECT_EQ(Snapshot(assigned), before);

    CWave& alias = assigned;
    assigned = alias;
    EXPECT_EQ(Snapshot(assigned), before);

    // An empty sound copies as an empty sound.
    const CWave empty;
    CWave fromEmpty(empty);
    EXPECT_EQ(fromEmpty.GetNumSamples(), 0u);
    assigned = empty;
    EXPECT_EQ(assigned.GetNumSamples(), 0u);
    ExpectFormat(assigned.GetFormat(), 1, 1, 22050, 44100, 2, 16);
}

TEST(WaveFormat, SetBufferWithAndWithoutCopy) {
    const Bytes frames = Counting(40);
    CWave w;
    w.SetFormat(2, 22050, 16);

    // Without a copy the store adopts the caller's block.
    BYTE* block = new BYTE[40];
    std::copy(frames.begin(), frames.end(), block);
    w.SetBuffer(block, 10, false);
    EXPECT_EQ(w.GetBuffer(), block);
    EXPECT_EQ(w.GetNumSamples(), 10u);
    EXPECT_EQ(w.GetBufferLength(), 40u);

    // With a copy the store keeps its size: fewer frames leave zeros behind them.
    Bytes two = Counting(8, 200);
    w.SetBuffer(two.data(), 2, true);
    EXPECT_EQ(w.GetBuffer(), block);
    EXPECT_EQ(w.GetNumSamples(), 10u);
    Bytes expected(40, 0);
    std::copy(two.begin(), two.end(), expected.begin());
    EXPECT_EQ(Snapshot(w).samples, expected);

    // A sound whose store was never sized takes exactly the frames given.
    CWave fresh;
    Bytes mono = Counting(6);
    fresh.SetBuffer(mono.data(), 3, true);
    EXPECT_EQ(fresh.GetNumSamples(), 3u);
    EXPECT_EQ(Snapshot(fresh).samples, mono);
}

TEST(WaveLayout, WriterMakesThirteenWritesOfTheHeaderAndTheData) {
    CWave w;
    w.SetFormat(2, 22050, 16);
    BYTE* block = new BYTE[4000]();
    w.SetBuffer(block, 1000, false);
    WriteLog file;
    w.Save(file);
    EXPECT_EQ(file.sizes, (std::vector<UINT>{4, 4, 8, 4, 2, 2, 4, 4, 2, 2, 4, 4, 4000}));
    const Bytes& b = file.GetContents();
    ASSERT_EQ(b.size(), 4044u);
    EXPECT_EQ(Get32(b, 4), 4036u);
    EXPECT_EQ(Get32(b, 16), 16u);
    EXPECT_EQ(Get32(b, 40), 4000u);
}

TEST(WaveLayout, OddDataLengthHasNoPadByte) {
    CWave w;
    w.SetFormat(1, 8000, 8);
    BYTE* block = new BYTE[1001]();
    w.SetBuffer(block, 1001, false);
    const Bytes b = Saved(w);
    EXPECT_EQ(b.size(), 1045u);
    EXPECT_EQ(Get32(b, 40), 1001u);
    EXPECT_EQ(Get32(b, 4), 1037u);
}

TEST(WaveLayout, ReadingBackGivesTheSameSound) {
    CWave w = Sample();
    const Bytes b = Saved(w);
    CWave back;
    EXPECT_EQ(LoadBytes(back, b), -1);
    EXPECT_EQ(Snapshot(back), Snapshot(w));
    EXPECT_EQ(back.GetFormat().cbSize, 0);

    // Save and Load go on from the file's current position.
    CMemFile twice;
    w.Save(twice);
    CWave other;
    other.SetFormat(1, 8000, 8);
    other.Save(twice);
    twice.SeekToBegin();
    CWave first, second;
    first.Load(twice);
    second.Load(twice);
    EXPECT_EQ(Snapshot(first), Snapshot(w));
    EXPECT_EQ(Snapshot(second), Snapshot(other));
}

TEST(WaveLayout, ReaderTrustsOnlyTheTagPositions) {
    const Bytes samples = Counting(16);
    Header h;
    h.riffSize = 7;    // wrong
    h.fmtSize = 4096;  // wrong
    // Format values are taken as they stand, non-PCM tags and mismatched rates included.
    h.tag = 0x55, h.channels = 3, h.rate = 12345, h.avg = 1, h.align = 8, h.bits = 3;
    CWave w;
    ASSERT_EQ(LoadBytes(w, h.Build(samples)), -1);
    ExpectFormat(w.GetFormat(), 0x55, 3, 12345, 1, 8, 3);
    EXPECT_EQ(w.GetNumSamples(), 2u);
    EXPECT_EQ(Snapshot(w).samples, samples);
}

TEST(WaveLayout, RejectedFilesLeaveTheSoundUnchanged) {
    const Bytes samples = Counting(8);
    std::vector<std::pair<std::string, Bytes>> files;
    auto add = [&](const std::string& name, Header h) {
        files.emplace_back(name, h.Build(samples));
    };
    Header h;
    h.riff = "RIFX";
    add("big-endian RIFX", h);
    h = {};
    h.riff = "riff";
    add("lower-case riff", h);
    h = {};
    h.waveFmt = "WAVEfmt\t";
    add("no space after fmt", h);
    h = {};
    h.waveFmt = "WAVELIST";
    add("LIST in place of fmt", h);
    h = {};
    h.data = "fact";
    add("fact before data", h);
    h = {};
    h.data = "LIST";
    add("LIST before data", h);
    h = {};
    h.align = 0;
    add("block align 0", h);

    // An 18-byte fmt chunk moves "data" two bytes on.
    Bytes fmt18 = Header{}.Build(samples);
    fmt18.insert(fmt18.begin() + 36, {0, 0});
    fmt18[16] = 18;
    files.emplace_back("18-byte fmt", fmt18);

    // A file that ends before the end of the "data" tag, at every length.
    const Bytes whole = Header{}.Build(samples);
    for (std::size_t n = 0; n < 40; ++n) {
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
    Header h;  // block align 4

    // 10 bytes declared: two whole frames, the two bytes after them are not read.
    h.dataSize = 10;
    CWave w;
    CMemFile file(h.Build(samples).data(), static_cast<UINT>(44 + samples.size()));
    w.Load(file);
    EXPECT_EQ(w.GetNumSamples(), 2u);
    EXPECT_EQ(Snapshot(w).samples, Bytes(samples.begin(), samples.begin() + 8));
    EXPECT_EQ(file.GetPosition(), 44u + 8u);

    // More declared than the file holds: the whole frames present, nothing invented.
    h.dataSize = 1000;
    const Bytes cut = h.Build(Bytes(samples.begin(), samples.begin() + 22));
    ASSERT_EQ(LoadBytes(w, cut), -1);
    EXPECT_EQ(w.GetNumSamples(), 5u);
    EXPECT_EQ(Snapshot(w).samples, Bytes(samples.begin(), samples.begin() + 20));

    // A header claiming 4 GB in a 48-byte file allocates nothing like that.
    h.dataSize = 0xFFFFFFFC;
    ASSERT_EQ(LoadBytes(w, h.Build(Bytes(4, 9))), -1);
    EXPECT_EQ(w.GetNumSamples(), 1u);

    // A file that ends inside the data size field: the new format, no frames.
    const Bytes whole = Header{}.Build(samples);
    ASSERT_EQ(LoadBytes(w, Bytes(whole.begin(), whole.begin() + 42)), -1);
    EXPECT_EQ(w.GetNumSamples(), 0u);
    EXPECT_EQ(w.GetFormat().nBlockAlign, 4);
}

TEST(WaveClass, RegisteredForCreationAndSerialisation) {
    const CRuntimeClass* c = CRuntimeClass::FromName("CWave");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->m_wSchema, 1u);
    std::unique_ptr<CObject> made(c->CreateObject());
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->IsKindOf(&CWave::classCWave));
    EXPECT_TRUE(made->IsKindOf(&CObject::classCObject));
    EXPECT_TRUE(made->IsSerializable());

    // Serialize stores and loads the WAV layout on the archive's file.
    CWave w = Sample();
    CMemFile file;
    CArchive out(&file, CArchive::store);
    made->Serialize(out);
    w.Serialize(out);
    EXPECT_EQ(file.GetLength(), 44u + 44u + w.GetBufferLength());
    file.SeekToBegin();
    CArchive in(&file, CArchive::load);
    CWave first = Sample(), second;
    first.Serialize(in);
    second.Serialize(in);
    EXPECT_EQ(Snapshot(first), Snapshot(CWave()));
    EXPECT_EQ(Snapshot(second), Snapshot(w));
}

}  // namespace
