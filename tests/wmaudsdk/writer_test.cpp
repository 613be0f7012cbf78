// The audio-writer component through its export and table: the formats it takes and refuses,
// the order of calls, writes of any size, and the files it creates.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "convert/AudioProbe.h"
#include "convert/RecorderLog.h"
#include "platform/libloaderapi.h"
#include "support/TempDir.h"
#include "support/WavBytes.h"
#include "wmaudsdk/wmaudsdk.h"

using namespace audioprobe;
using talrec::test::Exists;
using talrec::test::TempDir;
using wavbytes::Fmt;
using wavbytes::LE16;
using wavbytes::LE32;

namespace {

std::u16string Wide(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

// The component, loaded once for the tests of this program.
class Component {
  public:
    Component() {
        module_ = LoadLibraryA(COMPONENT_DIR "/wmaudsdk.so");
        if (module_ != nullptr) {
            create = reinterpret_cast<PFN_WMAudioCreateWriter>(
                reinterpret_cast<void (*)()>(GetProcAddress(module_, kWMAudioCreateWriterName)));
        }
    }
    ~Component() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    PFN_WMAudioCreateWriter create = nullptr;

  private:
    HMODULE module_ = nullptr;
};

Component& TheComponent() {
    static Component component;
    return component;
}

// A released-on-scope-exit writer.
struct Writer {
    IWMAudioWriter* p = nullptr;
    ~Writer() {
        if (p != nullptr) p->Release();
    }
    IWMAudioWriter* operator->() const { return p; }
};

std::string Extensible(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                       std::uint16_t subtype, std::uint16_t validBits, std::uint32_t mask) {
    std::string s = Fmt(0xFFFE, channels, rate, bits, 18, 22) + LE16(validBits) + LE32(mask);
    s += LE16(subtype);
    s += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    return s;
}

// Interleaved 16-bit stereo of a 1 kHz tone at half scale.
std::string ToneS16(int frames, int rate) {
    std::string bytes;
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(16384 * std::sin(2 * M_PI * 1000.0 * i / rate));
        bytes += LE16(static_cast<std::uint16_t>(v)) + LE16(static_cast<std::uint16_t>(v));
    }
    return bytes;
}

class WriterTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(TheComponent().create, nullptr) << COMPONENT_DIR; }
    HRESULT Create(Writer& w, const std::string& path) {
        const std::u16string name = Wide(path);
        return TheComponent().create(name.c_str(), &w.p);
    }
    TempDir dir;
    std::string dest = dir / "out.wma";
};

TEST_F(WriterTest, TakesIntegerAndFloatPcmOfEveryWidthAndRefusesTheRest) {
    const std::string accepted[] = {
        Fmt(1, 1, 8000, 8, 18),
        Fmt(1, 2, 22050, 16, 18),
        Fmt(1, 2, 44100, 24, 18),
        Fmt(1, 8, 48000, 32, 18),
        Fmt(3, 2, 96000, 32, 18),
        Fmt(3, 1, 4000, 64, 18),
        Fmt(1, 64, 768000, 16, 18),
        Extensible(6, 48000, 24, 1, 24, 0x3F),
        Extensible(2, 44100, 32, 3, 32, 0x3),
        Extensible(2, 44100, 32, 1, 20, 0),   // 20 valid bits in 32
        Extensible(12, 48000, 16, 1, 16, 0),  // more channels than speaker positions
    };
    for (const std::string& format : accepted) {
        SCOPED_TRACE(
            testing::PrintToString(std::vector<unsigned char>(format.begin(), format.end())));
        Writer w;
        ASSERT_EQ(Create(w, dest), S_OK);
        EXPECT_EQ(w->SetInputFormat(format.data()), S_OK);
    }
    std::string badAlign = Fmt(1, 2, 44100, 16, 18);
    badAlign[12] = 5;
    const std::string refused[] = {
        Fmt(2, 2, 22050, 4, 18),     // ADPCM
        Fmt(0x55, 2, 44100, 0, 18),  // MP3
        Fmt(1, 2, 22050, 12, 18),    // no such integer width
        Fmt(3, 2, 22050, 16, 18),    // no 16-bit float
        Fmt(1, 0, 22050, 16, 18),    // no channels
        Fmt(1, 65, 22050, 16, 18),   // too many
        Fmt(1, 2, 0, 16, 18),        // no rate
        Fmt(1, 2, 1000000, 16, 18),  // rate too high
        badAlign,
        Fmt(0xFFFE, 2, 44100, 16, 18, 0),    // extensible without its extension
        Extensible(2, 44100, 16, 2, 16, 3),  // extensible ADPCM
        Extensible(2, 44100, 16, 1, 24, 3),  // more valid bits than the container
    };
    for (const std::string& format : refused) {
        SCOPED_TRACE(
            testing::PrintToString(std::vector<unsigned char>(format.begin(), format.end())));
        Writer w;
        ASSERT_EQ(Create(w, dest), S_OK);
        const HRESULT hr = w->SetInputFormat(format.data());
        EXPECT_LT(hr, 0);
        EXPECT_EQ(hr, E_INVALIDARG);
    }
}

TEST_F(WriterTest, UnusedEntriesAnswerNotImplementedAndCallsOutOfOrderAreRefused) {
    Writer w;
    ASSERT_EQ(Create(w, dest), S_OK);
    void* props = &props;
    EXPECT_EQ(w->GetOutputProps(&props), E_NOTIMPL);
    EXPECT_EQ(props, nullptr);
    EXPECT_EQ(w->SetAttribute(nullptr), E_NOTIMPL);
    void* same = nullptr;
    ASSERT_EQ(w->QueryInterface(IID_IUnknown, &same), S_OK);
    EXPECT_EQ(same, static_cast<IUnknown*>(w.p));
    EXPECT_EQ(w->Release(), 1u);
    EXPECT_EQ(w->QueryInterface(IID_IWMAudioWriter, &same), S_OK);
    EXPECT_EQ(w->Release(), 1u);
    EXPECT_EQ(w->QueryInterface(GUID{1, 2, 3, {4}}, &same), E_NOINTERFACE);

    const BYTE bytes[4] = {};
    EXPECT_EQ(w->SetOutputFormat(0, 0, 0, 0), E_UNEXPECTED);  // no input format yet
    EXPECT_EQ(w->Write(bytes, 4), E_UNEXPECTED);
    const std::string format = Fmt(1, 2, 22050, 16, 18);
    ASSERT_EQ(w->SetInputFormat(format.data()), S_OK);
    EXPECT_EQ(w->Write(bytes, 4), E_UNEXPECTED);  // no output format yet
    EXPECT_EQ(w->SetOutputFormat(0, 0, 0, 1), E_INVALIDARG);
    EXPECT_EQ(w->SetOutputFormat(3, 0, 0, 0), E_INVALIDARG);
    EXPECT_EQ(w->SetOutputFormat(0, 96000, 0, 0), E_INVALIDARG);
    EXPECT_EQ(w->SetOutputFormat(0, 0, 1000, 0), E_INVALIDARG);
    ASSERT_EQ(w->SetOutputFormat(0, 0, 0, 0), S_OK);
    EXPECT_EQ(w->SetInputFormat(format.data()), E_UNEXPECTED);  // too late
    EXPECT_EQ(w->Write(bytes, 4), S_OK);
    EXPECT_EQ(w->Finish(), S_OK);
    EXPECT_EQ(w->Finish(), E_UNEXPECTED);
    EXPECT_EQ(w->Write(bytes, 4), E_UNEXPECTED);
}

TEST_F(WriterTest, AFileThatCannotBeCreatedIsReportedAtCreation) {
    Writer missing;
    EXPECT_EQ(Create(missing, dir / "no/such/folder.wma"), static_cast<HRESULT>(0x80070003));
    EXPECT_EQ(missing.p, nullptr);
    Writer folder;
    EXPECT_EQ(Create(folder, dir.path()), static_cast<HRESULT>(0x80070005));
    Writer empty;
    EXPECT_EQ(Create(empty, ""), E_INVALIDARG);
    EXPECT_EQ(TheComponent().create(Wide(dest).c_str(), nullptr), E_POINTER);
}

TEST_F(WriterTest, WritesOfAnySizeGiveTheSameSound) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is needed to decode the files";
    // 24-bit stereo: 6-byte frames, so most of the pieces below split a frame, and some a sample.
    std::string pcm;
    const int frames = 30000;
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int32_t>(4194304 * std::sin(2 * M_PI * 440.0 * i / 32000));
        for (int c = 0; c < 2; ++c) {
            pcm += static_cast<char>(v & 0xFF);
            pcm += static_cast<char>((v >> 8) & 0xFF);
            pcm += static_cast<char>((v >> 16) & 0xFF);
        }
    }
    const std::string format = Fmt(1, 2, 32000, 24, 18);
    auto encode = [&](const std::string& path, const std::vector<size_t>& pieces) {
        Writer w;
        ASSERT_EQ(Create(w, path), S_OK);
        ASSERT_EQ(w->SetInputFormat(format.data()), S_OK);
        ASSERT_EQ(w->SetOutputFormat(0, 0, 0, 0), S_OK);
        size_t at = 0;
        for (size_t i = 0; at < pcm.size(); ++i) {
            const size_t n = std::min(pieces[i % pieces.size()], pcm.size() - at);
            ASSERT_EQ(
                w->Write(reinterpret_cast<const BYTE*>(pcm.data() + at), static_cast<DWORD>(n)),
                S_OK);
            at += n;
        }
        ASSERT_EQ(w->Finish(), S_OK);
    };
    encode(dir / "whole.wma", {pcm.size()});
    encode(dir / "pieces.wma", {1, 5, 7, 4097, 2, 16384});
    auto decode = [&](const std::string& path) {
        const std::string raw = path + ".raw";
        EXPECT_TRUE(RunCommand("ffmpeg -v error -y -i " + Quote(path) + " -f s16le " + Quote(raw)));
        return ReadAll(raw);
    };
    const std::string whole = decode(dir / "whole.wma");
    EXPECT_GT(whole.size(), static_cast<size_t>(frames) * 4);
    EXPECT_EQ(whole, decode(dir / "pieces.wma"));
}

TEST_F(WriterTest, OutputFormatValuesAreHonouredAndAnUnfinishedWriterStillLeavesAFile) {
    if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is needed to inspect the files";
    const std::string format = Fmt(1, 2, 44100, 16, 18);
    const std::string tone = ToneS16(44100, 44100);
    {
        Writer w;
        ASSERT_EQ(Create(w, dest), S_OK);
        ASSERT_EQ(w->SetInputFormat(format.data()), S_OK);
        ASSERT_EQ(w->SetOutputFormat(1, 22050, 32000, 0), S_OK);
        ASSERT_EQ(
            w->Write(reinterpret_cast<const BYTE*>(tone.data()), static_cast<DWORD>(tone.size())),
            S_OK);
        ASSERT_EQ(w->Finish(), S_OK);
    }
    const Probe custom = ProbeFile(dest);
    EXPECT_EQ(custom.codec, "wmav2");
    EXPECT_EQ(custom.channels, 1);
    EXPECT_EQ(custom.sampleRate, 22050);
    EXPECT_EQ(custom.bitRate, 32000);
    EXPECT_NEAR(custom.duration, 1.0, 0.05);

    // Released without Finish: the file still gets its trailer.
    const std::string dropped = dir / "dropped.wma";
    {
        Writer w;
        ASSERT_EQ(Create(w, dropped), S_OK);
        ASSERT_EQ(w->SetInputFormat(format.data()), S_OK);
        ASSERT_EQ(w->SetOutputFormat(0, 0, 0, 0), S_OK);
        ASSERT_EQ(
            w->Write(reinterpret_cast<const BYTE*>(tone.data()), static_cast<DWORD>(tone.size())),
            S_OK);
    }
    const Probe unfinished = ProbeFile(dropped);
    EXPECT_EQ(unfinished.format, "asf");
    EXPECT_NEAR(unfinished.duration, 1.0, 0.05);

    // A writer refused its input leaves the created file empty.
    const std::string refused = dir / "refused.wma";
    {
        Writer w;
        ASSERT_EQ(Create(w, refused), S_OK);
        EXPECT_LT(w->SetInputFormat(Fmt(2, 2, 22050, 4, 18).data()), 0);
        EXPECT_EQ(w->Finish(), S_OK);
    }
    EXPECT_TRUE(Exists(refused));
    EXPECT_EQ(ReadAll(refused), "");
}

}  // namespace
