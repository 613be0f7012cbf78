// WAV files as sox and ffmpeg write them, converted with the real audio-writer component: the
// result is WMA 2 in ASF with the source's duration, and a test tone keeps its frequency and
// level.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "AudioProbe.h"
#include "RecorderLog.h"
#include "convert/WmaConverter.h"
#include "support/TempDir.h"
#include "support/WavBytes.h"

using namespace audioprobe;
using talrec::test::ScopedEnv;
using talrec::test::TempDir;

namespace {

constexpr double kToneHz = 1000;
constexpr double kAmplitude = 0.5;

struct Source {
    const char* name;
    const char* tool;  // "sox" or "ffmpeg"
    int channels;
    int rate;
    const char* sample;  // sox: "-b 16 -e signed-integer"; ffmpeg: codec name
    bool dataFirst = false;
};

void PrintTo(const Source& s, std::ostream* os) {
    *os << s.name;
}

// The command that writes the source's tone, 1.234 s long, to path.
std::string GenerateCommand(const Source& s, const std::string& path) {
    if (std::string(s.tool) == "sox") {
        return "sox -n -r " + std::to_string(s.rate) + " -c " + std::to_string(s.channels) + " " +
               s.sample + " " + Quote(path) + " synth 1.234 sine 1000 vol 0.5";
    }
    std::string expr;
    for (int c = 0; c < s.channels; ++c)
        expr += (c ? "|" : "") + std::string("0.5*sin(2*PI*1000*t)");
    return "ffmpeg -v error -y -f lavfi -i 'aevalsrc=" + expr + ":s=" + std::to_string(s.rate) +
           ":d=1.234' -c:a " + s.sample + " " + Quote(path);
}

// Rewrites a WAV file with its "data" chunk moved before every other chunk.
void MoveDataFirst(const std::string& path) {
    const std::string bytes = ReadAll(path);
    std::string data;
    std::string others;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::uint32_t size =
            static_cast<std::uint8_t>(bytes[at + 4]) |
            (static_cast<std::uint8_t>(bytes[at + 5]) << 8) |
            (static_cast<std::uint8_t>(bytes[at + 6]) << 16) |
            (static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 7])) << 24);
        const size_t whole = 8 + size + (size & 1);
        (bytes.compare(at, 4, "data") == 0 ? data : others) += bytes.substr(at, whole);
        at += whole;
    }
    wavbytes::Save(path, bytes.substr(0, 12) + data + others);
}

class ConvertFilesTest : public ::testing::TestWithParam<Source> {
  protected:
    void SetUp() override {
        if (!HaveTool("sox") || !HaveTool("ffmpeg") || !HaveTool("ffprobe")) {
            GTEST_SKIP() << "sox, ffmpeg and ffprobe are needed to write and inspect the files";
        }
    }
    TempDir dir;
    ScopedEnv component{"TALREC_SYSTEM_DIR", COMPONENT_DIR};
};

TEST_P(ConvertFilesTest, ConvertsToWma2InAsfKeepingDurationFrequencyAndLevel) {
    const Source& s = GetParam();
    const std::string source = dir / "in.wav";
    const std::string dest = dir / "out.wma";
    ASSERT_TRUE(RunCommand(GenerateCommand(s, source))) << GenerateCommand(s, source);
    if (s.dataFirst) MoveDataFirst(source);
    const Probe in = ProbeFile(source);
    ASSERT_TRUE(in.ok);

    testing::internal::CaptureStdout();
    const HRESULT hr = ConvertWavFile(source.c_str(), dest.c_str());
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(hr, S_OK) << out;
    EXPECT_EQ(out, "");

    const Probe wma = ProbeFile(dest);
    ASSERT_TRUE(wma.ok);
    EXPECT_EQ(wma.format, "asf");
    EXPECT_EQ(wma.codec, "wmav2");
    const int channels = std::min(s.channels, 2);
    EXPECT_EQ(wma.channels, channels);
    const int rate = s.rate <= 48000 ? s.rate : (s.rate % 11025 == 0 ? 44100 : 48000);
    EXPECT_EQ(wma.sampleRate, rate);
    EXPECT_EQ(wma.bitRate, channels == 1 ? 64000 : 128000);
    EXPECT_NEAR(wma.duration, in.duration, 0.050);

    const Tone tone = MeasureTone(dest, rate, dir.path());
    ASSERT_TRUE(tone.ok);
    EXPECT_NEAR(tone.frequency, kToneHz, kToneHz * 0.01);
    EXPECT_NEAR(Decibels(tone.rms / (kAmplitude / std::sqrt(2.0))), 0.0, 1.0);
}

const Source kSources[] = {
    {"sox_u8_stereo_22050", "sox", 2, 22050, "-b 8 -e unsigned-integer"},
    {"sox_s16_mono_8000", "sox", 1, 8000, "-b 16 -e signed-integer"},
    {"sox_s16_stereo_11025", "sox", 2, 11025, "-b 16 -e signed-integer"},
    {"sox_s24_stereo_44100_extensible", "sox", 2, 44100, "-b 24 -e signed-integer"},
    {"sox_s32_stereo_48000_extensible", "sox", 2, 48000, "-b 32 -e signed-integer"},
    {"sox_f32_stereo_44100_fact", "sox", 2, 44100, "-b 32 -e floating-point"},
    {"sox_s16_6ch_44100_extensible", "sox", 6, 44100, "-b 16 -e signed-integer"},
    {"sox_s16_4ch_16000", "sox", 4, 16000, "-b 16 -e signed-integer"},
    {"sox_s16_stereo_96000", "sox", 2, 96000, "-b 16 -e signed-integer"},
    {"sox_s16_mono_32000", "sox", 1, 32000, "-b 16 -e signed-integer"},
    {"sox_s16_stereo_22050_data_first", "sox", 2, 22050, "-b 16 -e signed-integer", true},
    {"ffmpeg_u8_mono_8000_list", "ffmpeg", 1, 8000, "pcm_u8"},
    {"ffmpeg_s16_stereo_22050_list", "ffmpeg", 2, 22050, "pcm_s16le"},
    {"ffmpeg_s24_stereo_96000", "ffmpeg", 2, 96000, "pcm_s24le"},
    {"ffmpeg_s32_6ch_48000", "ffmpeg", 6, 48000, "pcm_s32le"},
    {"ffmpeg_f32_stereo_44100", "ffmpeg", 2, 44100, "pcm_f32le"},
    {"ffmpeg_f64_mono_24000", "ffmpeg", 1, 24000, "pcm_f64le"},
    {"ffmpeg_s16_3ch_88200", "ffmpeg", 3, 88200, "pcm_s16le"},
    {"ffmpeg_s16_5ch_12000", "ffmpeg", 5, 12000, "pcm_s16le"},
};

INSTANTIATE_TEST_SUITE_P(SoxAndFfmpeg, ConvertFilesTest, ::testing::ValuesIn(kSources),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConvertLongDestination, APathOf1023CharactersIsWritten) {
    if (!HaveTool("sox") || !HaveTool("ffprobe")) GTEST_SKIP() << "sox and ffprobe are needed";
    TempDir dir;
    ScopedEnv component("TALREC_SYSTEM_DIR", COMPONENT_DIR);
    const std::string source = dir / "in.wav";
    ASSERT_TRUE(RunCommand("sox -n -r 22050 -c 2 -b 16 " + Quote(source) + " synth 0.5 sine 440"));
    // Folders of 200 characters, then a file name that brings the path to 1023.
    std::string dest = dir.path();
    while (1023 - dest.size() > 250) {
        dest += "/" + std::string(200, 'f');
        std::filesystem::create_directory(dest);
    }
    dest += "/" + std::string(1023 - dest.size() - 5, 'n') + ".wma";
    ASSERT_EQ(dest.size(), 1023u);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ConvertWavFile(source.c_str(), dest.c_str()), S_OK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(ProbeFile(dest).codec, "wmav2");
}

TEST(ConvertShortData, WhatWasWrittenBeforeTheShortReadStaysAPlayableFile) {
    if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is needed";
    TempDir dir;
    ScopedEnv component("TALREC_SYSTEM_DIR", COMPONENT_DIR);
    const std::string source = dir / "in.wav";
    const std::string dest = dir / "out.wma";
    using namespace wavbytes;
    // 2 s declared, 1 s present (silence is enough here).
    wavbytes::Save(source, Riff({PcmFmt(2, 22050, 16), {"data", std::string(88200, '\0'), 176400}},
                                4 + 24 + 8 + 176400));
    EXPECT_EQ(ConvertWavFile(source.c_str(), dest.c_str()), E_FAIL);
    const Probe wma = ProbeFile(dest);
    EXPECT_EQ(wma.codec, "wmav2");
    EXPECT_GT(wma.duration, 0.5);  // the whole blocks before the short one
    EXPECT_LT(wma.duration, 1.0);
}

}  // namespace
