// The conversion's calls into the audio-writer component, seen through a stand-in component
// that records them, and its statuses, messages and cleanup.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "RecorderLog.h"
#include "convert/WmaConverter.h"
#include "platform/ext/mmiostream.h"
#include "support/TempDir.h"
#include "support/WavBytes.h"

using namespace wavbytes;
using talrec::test::Exists;
using talrec::test::ScopedEnv;
using talrec::test::TempDir;
using Lines = std::vector<std::string>;

namespace {

struct Outcome {
    HRESULT hr;
    std::string out;  // what the conversion wrote to standard output
};

Outcome Convert(const std::string& source, const std::string& destination) {
    testing::internal::CaptureStdout();
    const HRESULT hr = ConvertWavFile(source.c_str(), destination.c_str());
    return {hr, testing::internal::GetCapturedStdout()};
}

// The "input" line the stand-in logs for a format block.
std::string InputLine(const std::string& block) {
    std::string line = "input";
    for (unsigned char c : block) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", c);
        line += hex;
    }
    return line;
}

class ConverterTest : public ::testing::Test {
  protected:
    Lines Log() const { return ReadLines(log); }
    // The lines of one successful conversion of dest with a 16-bit stereo format.
    Lines Expected(const std::string& dest, const std::vector<int>& writes) const {
        Lines lines = {"load", "create " + std::to_string(dest.size()) + " " + dest,
                       InputLine(Fmt(1, 2, 22050, 16, 18)), "output 0 0 0 0"};
        for (int w : writes) lines.push_back("write " + std::to_string(w));
        lines.insert(lines.end(), {"finish", "release 0", "unload"});
        return lines;
    }

    TempDir dir;
    std::string log = dir / "calls.log";
    std::string data = dir / "written.bin";
    std::string source = dir / "in.wav";
    std::string dest = dir / "out.wma";
    ScopedEnv systemDir{"TALREC_SYSTEM_DIR", RECORDING_WRITER_DIR};
    ScopedEnv logEnv{"TALREC_RECORDER_LOG", log};
    ScopedEnv dataEnv{"TALREC_RECORDER_DATA", data};
};

TEST_F(ConverterTest, DataIsWrittenInBlocksOf16384BytesUnchangedAndInOrder) {
    const struct {
        size_t bytes;
        std::vector<int> writes;
    } cases[] = {{16384, {16384}}, {16385, {16384, 1}}, {1, {1}}, {40000, {16384, 16384, 7232}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        std::filesystem::remove(log);
        std::filesystem::remove(data);
        const Chunk samples = CountingData(c.bytes);
        Save(source, Riff({{"LIST", "INFOxxxx"}, PcmFmt(), samples}));
        const Outcome o = Convert(source, dest);
        EXPECT_EQ(o.hr, S_OK);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(Log(), Expected(dest, c.writes));  // loaded and unloaded for each conversion
        EXPECT_EQ(ReadAll(data), samples.body);
    }
}

// A stream that notes where each read starts, over bytes in memory.
class TracingStream final : public IMmioStream {
  public:
    TracingStream(std::string bytes, std::vector<long long>& reads, bool& closed)
        : bytes_(std::move(bytes)),
          inner_(MmioMemoryStream(bytes_.data(), bytes_.size())),
          reads_(reads),
          closed_(closed) {}
    ~TracingStream() override { closed_ = true; }
    long long Read(void* b, long long n) override {
        reads_.push_back(inner_->Position());
        return inner_->Read(b, n);
    }
    bool SeekTo(long long p) override { return inner_->SeekTo(p); }
    long long Position() const override { return inner_->Position(); }
    long long Length() const override { return inner_->Length(); }

  private:
    std::string bytes_;
    std::unique_ptr<IMmioStream> inner_;
    std::vector<long long>& reads_;
    bool& closed_;
};

TEST_F(ConverterTest, EveryBlockIsReadFromItsOwnAbsoluteOffset) {
    const std::string bytes = Riff({{"odd!", "abc"}, PcmFmt(), CountingData(40000)});
    const long long dataOffset = 12 + 12 + 24 + 8;
    std::vector<long long> reads;
    bool closed = false;
    mmioSetStreamOpener(
        [&](LPCSTR) { return std::make_unique<TracingStream>(bytes, reads, closed); });
    const Outcome o = Convert("memory.wav", dest);
    mmioSetStreamOpener(nullptr);
    EXPECT_EQ(o.hr, S_OK);
    EXPECT_TRUE(closed);
    // The last three reads are the blocks.
    ASSERT_GE(reads.size(), 3u);
    const std::vector<long long> blocks(reads.end() - 3, reads.end());
    EXPECT_EQ(blocks, (std::vector<long long>{dataOffset, dataOffset + 16384, dataOffset + 32768}));
}

TEST_F(ConverterTest, WithoutTheComponentTheSourceIsOpenedAndClosedAndNothingIsWritten) {
    Save(source, Riff({PcmFmt(), Data(100)}));
    TempDir empty;
    ScopedEnv noComponent("TALREC_SYSTEM_DIR", empty.path());
    bool opened = false;
    bool closed = false;
    std::vector<long long> reads;
    mmioSetStreamOpener([&](LPCSTR) {
        opened = true;
        return std::make_unique<TracingStream>(Riff({PcmFmt(), Data(100)}), reads, closed);
    });
    const Outcome o = Convert(source, dest);
    mmioSetStreamOpener(nullptr);
    EXPECT_EQ(o.hr, E_FAIL);
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(opened);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(Exists(dest));

    // A library without the export counts as no library.
    std::filesystem::create_symlink(std::string(COMPONENT_DIR) + "/libtalrec_platform.so",
                                    empty / "wmaudsdk.so");
    const Outcome noExport = Convert(source, dest);
    EXPECT_EQ(noExport.hr, E_FAIL);
    EXPECT_EQ(noExport.out, "");
    EXPECT_FALSE(Exists(dest));
}

TEST_F(ConverterTest, AnUnreadableSourceIsReportedAndNoWriterIsCreated) {
    Save(dir / "text.wav", "plain text, not a RIFF file");
    for (const std::string& bad : {dir / "missing.wav", dir / "text.wav"}) {
        std::filesystem::remove(log);
        const Outcome o = Convert(bad, dest);
        EXPECT_EQ(o.hr, E_FAIL);
        EXPECT_EQ(o.out, "Error Failed to open Wav File " + bad + "\n");
        EXPECT_EQ(Log(), (Lines{"load", "unload"}));
    }
    // With the real component too: no destination appears.
    ScopedEnv real("TALREC_SYSTEM_DIR", COMPONENT_DIR);
    EXPECT_EQ(Convert(dir / "missing.wav", dest).hr, E_FAIL);
    EXPECT_FALSE(Exists(dest));
}

TEST_F(ConverterTest, ADestinationThatIsTheSourceByNameOrLinkIsRefusedAsAFailedOpen) {
    Save(source, Riff({PcmFmt(), Data(40000)}));
    const std::string before = ReadAll(source);
    std::filesystem::create_symlink(source, dir / "soft.wma");
    std::filesystem::create_hard_link(source, dir / "hard.wma");
    ScopedEnv real("TALREC_SYSTEM_DIR", COMPONENT_DIR);
    for (const std::string& same : {source, dir / "soft.wma", dir / "hard.wma"}) {
        const Outcome o = Convert(source, same);
        EXPECT_EQ(o.hr, E_FAIL) << same;
        EXPECT_EQ(o.out, "Error Failed to open Wav File " + source + "\n");
        EXPECT_TRUE(ReadAll(source) == before) << same << " changed";
    }
}

TEST_F(ConverterTest, DestinationNamesUpTo1023UnitsConvertAndLongerOnesAreRefusedFirst) {
    Save(source, Riff({PcmFmt(), Data(4)}));
    const std::string fits = "/" + std::string(1022, 'd');
    const Outcome ok = Convert(source, fits);
    EXPECT_EQ(ok.hr, S_OK);
    EXPECT_EQ(Log().at(1), "create 1023 " + fits);

    std::filesystem::remove(log);
    // The source does not exist: had it been opened, its message would show.
    const Outcome tooLong = Convert(dir / "missing.wav", fits + "d");
    EXPECT_EQ(tooLong.hr, E_UNEXPECTED);
    EXPECT_TRUE(tooLong.out.rfind("internal error ", 0) == 0) << tooLong.out;
    EXPECT_EQ(tooLong.out.find_first_not_of("0123456789", 15), tooLong.out.size() - 1);
    EXPECT_EQ(tooLong.out.back(), '\n');
    EXPECT_EQ(Log(), (Lines{"load", "unload"}));
}

TEST_F(ConverterTest, DataShorterThanDeclaredFailsAfterFinishingTheWriter) {
    std::string bytes = Riff({PcmFmt(), {"data", std::string(20000, 'x'), 40000}}, 4 + 24 + 40008);
    Save(source, bytes);
    const Outcome o = Convert(source, dest);
    EXPECT_EQ(o.hr, E_FAIL);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(Log(), Expected(dest, {16384}));
}

TEST_F(ConverterTest, ComponentFailuresArePassedOnWithTheirMessages) {
    Save(source, Riff({PcmFmt(), Data(40000)}));
    const Lines head = {"load", "create " + std::to_string(dest.size()) + " " + dest};
    const std::string input = InputLine(Fmt(1, 2, 22050, 16, 18));
    const struct {
        const char* fail;
        HRESULT hr;
        std::string out;
        Lines tail;
    } cases[] = {
        {"create=80070005",
         static_cast<HRESULT>(0x80070005),
         " Failed to Create Audio Writer 80070005\n",
         {"unload"}},
        {"input=80070057",
         E_INVALIDARG,
         " Failed to Set Input Format 80070057\n",
         {input, "release 0", "unload"}},
        {"output=c00d0bbd",
         static_cast<HRESULT>(0xC00D0BBD),
         " Failed to Set Output Format c00d0bbd\n",
         {input, "output 0 0 0 0", "release 0", "unload"}},
        {"write=80004005",
         E_FAIL,
         "",
         {input, "output 0 0 0 0", "write 16384", "finish", "release 0", "unload"}},
        {"write2=8007000e",
         E_OUTOFMEMORY,
         "",
         {input, "output 0 0 0 0", "write 16384", "write 16384", "finish", "release 0", "unload"}},
        // A failed finish leaves the writer held; the cleanup finishes it again and releases it.
        {"finish=8000ffff",
         E_UNEXPECTED,
         "",
         {input, "output 0 0 0 0", "write 16384", "write 16384", "write 7232", "finish", "finish",
          "release 0", "unload"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fail);
        std::filesystem::remove(log);
        ScopedEnv fail("TALREC_RECORDER_FAIL", c.fail);
        const Outcome o = Convert(source, dest);
        EXPECT_EQ(o.hr, c.hr);
        EXPECT_EQ(o.out, c.out);
        Lines expected = head;
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(Log(), expected);
    }
}

TEST_F(ConverterTest, NonPcmFormatBlocksReachTheComponentUnchanged) {
    std::string ext = Fmt(0xFFFE, 6, 48000, 24, 18, 22);
    ext += LE16(24) + LE32(0x3F);
    const std::string guid = "\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71";
    ext += std::string(guid.data(), 16);
    Save(source, Riff({{"fmt ", ext}, Data(18)}));
    EXPECT_EQ(Convert(source, dest).hr, S_OK);
    EXPECT_EQ(Log().at(2), InputLine(ext));
}

}  // namespace
