#include <gtest/gtest.h>

#include "convert/WavReader.h"
#include "platform/ext/mmiostream.h"
#include "support/TempDir.h"
#include "support/WavBytes.h"

using namespace wavbytes;
using talrec::test::TempDir;

namespace {

class WavReaderTest : public ::testing::Test {
  protected:
    // Writes bytes to a file and opens it with a fresh reader.
    int OpenBytes(const std::string& bytes) {
        Save(path, bytes);
        return reader.Open(path.c_str());
    }
    WORD FormatWord(size_t at) const {
        return static_cast<WORD>(reader.formatBlock[at] | (reader.formatBlock[at + 1] << 8));
    }
    void ExpectEmpty() const {
        EXPECT_EQ(reader.file, nullptr);
        EXPECT_TRUE(reader.formatBlock.empty());
        EXPECT_EQ(reader.dataSize, 0u);
    }

    TempDir dir;
    std::string path = dir / "in.wav";
    CWavReader reader;
};

TEST_F(WavReaderTest, PcmFormatOf16BytesBecomes18WithZeroExtraSize) {
    ASSERT_EQ(OpenBytes(Riff({PcmFmt(2, 22050, 16), Data(100)})), 1);
    ASSERT_EQ(reader.formatBlock.size(), 18u);
    EXPECT_EQ(FormatWord(0), 1);
    EXPECT_EQ(FormatWord(2), 2);
    EXPECT_EQ(FormatWord(16), 0);
    EXPECT_EQ(reader.dataOffset, 12u + 24u + 8u);
    EXPECT_EQ(reader.dataSize, 100u);
    EXPECT_NE(reader.file, nullptr);
    reader.Close();
    EXPECT_EQ(reader.file, nullptr);
    EXPECT_TRUE(reader.formatBlock.empty());
    reader.Close();  // a second close does nothing
}

TEST_F(WavReaderTest, PcmExtraSizeIsClearedButOtherFormatsKeepTheirBytes) {
    ASSERT_EQ(OpenBytes(Riff({{"fmt ", Fmt(1, 1, 8000, 8, 18, 0x1234)}, Data(10)})), 1);
    EXPECT_EQ(reader.formatBlock.size(), 18u);
    EXPECT_EQ(FormatWord(16), 0);
    reader.Close();

    // An extensible record of 40 bytes comes through unchanged, extra size and all.
    std::string ext = Fmt(0xFFFE, 2, 44100, 16, 18, 22);
    ext += LE16(16) + LE32(3);
    for (int i = 0; i < 16; ++i) ext += static_cast<char>(0xA0 + i);
    ASSERT_EQ(ext.size(), 40u);
    ASSERT_EQ(OpenBytes(Riff({{"fmt ", ext}, Data(10)})), 1);
    ASSERT_EQ(reader.formatBlock.size(), 40u);
    EXPECT_EQ(std::string(reader.formatBlock.begin(), reader.formatBlock.end()), ext);
}

TEST_F(WavReaderTest, ShortNonPcmFormatIsZeroFilled) {
    // Float with a 16-byte record: the extra-size field reads as 0.
    ASSERT_EQ(OpenBytes(Riff({{"fmt ", Fmt(3, 2, 44100, 32, 16)}, Data(8)})), 1);
    ASSERT_EQ(reader.formatBlock.size(), 18u);
    EXPECT_EQ(FormatWord(16), 0);
    reader.Close();
    // A record whose extra-size field claims more than the chunk holds: every claimed byte is
    // there to read, zero.
    ASSERT_EQ(OpenBytes(Riff({{"fmt ", Fmt(0xFFFE, 2, 44100, 16, 18, 22)}, Data(8)})), 1);
    ASSERT_EQ(reader.formatBlock.size(), 40u);
    for (size_t i = 18; i < 40; ++i) EXPECT_EQ(reader.formatBlock[i], 0) << i;
}

TEST_F(WavReaderTest, FirstFormatAndFirstNonEmptyDataWin) {
    const std::string bytes =
        Riff({PcmFmt(1, 8000, 8), PcmFmt(2, 48000, 16), Data(0), Data(1000), Data(50)});
    ASSERT_EQ(OpenBytes(bytes), 1);
    EXPECT_EQ(FormatWord(2), 1);
    EXPECT_EQ(reader.dataSize, 1000u);
    EXPECT_EQ(reader.dataOffset, 12u + 2 * 24u + 8u + 8u);
}

TEST_F(WavReaderTest, ChunkOrderAndForeignChunksDoNotMatter) {
    // data before fmt, with LIST and fact chunks around, and an odd-sized chunk and its pad.
    const std::string bytes = Riff({{"LIST", "INFOISFT\x05\0\0\0sox1\0"},
                                    Data(7),
                                    {"odd!", "abc"},
                                    {"fact", LE32(3)},
                                    PcmFmt(1, 11025, 8)});
    ASSERT_EQ(OpenBytes(bytes), 1);
    EXPECT_EQ(reader.dataSize, 7u);
    EXPECT_EQ(reader.formatBlock.size(), 18u);
    EXPECT_EQ(FormatWord(2), 1);
    // The reported offset is where the samples are.
    char sample[7];
    ASSERT_EQ(mmioSeek(reader.file, static_cast<LONG>(reader.dataOffset), SEEK_SET),
              static_cast<LONG>(reader.dataOffset));
    ASSERT_EQ(mmioRead(reader.file, sample, 7), 7);
    EXPECT_EQ(std::string(sample, 7), std::string(7, '\x11'));
}

TEST_F(WavReaderTest, WaveFormIsFoundAmongOtherTopLevelChunks) {
    const std::string bytes =
        Bytes({"JUNK", "xyz"}) + Riff({Data(4)}, std::nullopt, "AVI ") + Riff({PcmFmt(), Data(4)});
    EXPECT_EQ(OpenBytes(bytes), 1);
    EXPECT_EQ(reader.dataSize, 4u);
}

TEST_F(WavReaderTest, RejectsFilesThatAreNotUsableWaves) {
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"text", "this is not a sound file at all"},
        {"RIFF of another form", Riff({PcmFmt(), Data(4)}, std::nullopt, "AVI ")},
        {"no format", Riff({Data(4)})},
        {"no data", Riff({PcmFmt()})},
        {"only an empty data chunk", Riff({PcmFmt(), Data(0)})},
        {"format cut short by the file's end",
         Riff({Data(4), {"fmt ", Fmt(1, 2, 22050, 16), 16}}).substr(0, 12 + 12 + 8 + 6)},
        {"format declared far beyond the file",
         Riff({Data(4), {"fmt ", "", 0xFFFFFF00u}}, 0xFFFFFFF0u)},
        {"chunk past the RIFF end after format and data",
         Riff({PcmFmt(), Data(4), {"LIST", "abcd", 5000}})},
        {"data past the RIFF end", Riff({PcmFmt(), {"data", "abcd", 400}})},
        {"data only beyond the RIFF's declared end", Riff({PcmFmt()}) + Bytes(Data(4))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(OpenBytes(c.bytes), -1);
        ExpectEmpty();
    }
    EXPECT_EQ(reader.Open((dir / "missing.wav").c_str()), -1);
    EXPECT_EQ(reader.Open(dir.path().c_str()), -1);  // a folder
    ExpectEmpty();
}

TEST_F(WavReaderTest, DeclaredDataBeyondTheFileIsAcceptedAndReadsShort) {
    // The size is checked against the RIFF chunk only; the short read shows later.
    std::string bytes = Riff({PcmFmt(), {"data", std::string(100, 'x'), 1000}}, 1000 + 36);
    ASSERT_EQ(OpenBytes(bytes), 1);
    EXPECT_EQ(reader.dataSize, 1000u);
    std::vector<char> buffer(1000);
    mmioSeek(reader.file, static_cast<LONG>(reader.dataOffset), SEEK_SET);
    EXPECT_EQ(mmioRead(reader.file, buffer.data(), 1000), 100);
}

// The chunk walk of the file I/O service itself.
TEST(RiffFileIo, DescendAscendSeekAndReadKeepToTheirBounds) {
    const std::string bytes = Riff({{"abcd", "12345"}, {"efgh", "67"}});
    HMMIO h = mmioOpenStream(MmioMemoryStream(bytes.data(), bytes.size()));
    ASSERT_NE(h, nullptr);
    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.dwDataOffset, 8u);
    EXPECT_EQ(riff.cksize, bytes.size() - 8);
    MMCKINFO want{};
    want.ckid = mmioFOURCC('e', 'f', 'g', 'h');
    ASSERT_EQ(mmioDescend(h, &want, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    EXPECT_EQ(want.dwDataOffset, 12u + 8 + 6 + 8);  // past "abcd", its data and its pad
    EXPECT_EQ(want.cksize, 2u);
    ASSERT_EQ(mmioAscend(h, &want, 0), MMSYSERR_NOERROR);
    MMCKINFO next{};
    EXPECT_EQ(mmioDescend(h, &next, &riff, 0), MMIOERR_CHUNKNOTFOUND);
    char c;
    EXPECT_EQ(mmioRead(h, &c, 1), 0);  // at the end
    EXPECT_EQ(mmioSeek(h, -1, SEEK_SET), -1);
    EXPECT_EQ(mmioSeek(h, -2, SEEK_END), static_cast<LONG>(bytes.size() - 2));
    EXPECT_EQ(mmioRead(h, &c, 1), 1);
    EXPECT_EQ(c, '6');
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);

    char name[] = "/nonexistent/x.wav";
    MMIOINFO info{};
    EXPECT_EQ(mmioOpenA(name, &info, 0), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_PATHNOTFOUND) << "the folder is missing";
    TempDir dir;
    std::string missing = dir / "missing.wav";
    EXPECT_EQ(mmioOpenA(missing.data(), &info, 0), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
    EXPECT_EQ(mmioOpenA(name, nullptr, MMIO_WRITE | MMIO_CREATE), nullptr);
}

}  // namespace
