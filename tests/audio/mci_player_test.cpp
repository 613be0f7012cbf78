// CMciPlayer end to end: files made by sox and ffmpeg played through the virtual wave device,
// whose sink writes what reaches it into a WAV file that is compared with the file's sound.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <thread>

#include "audio/MciPlayer.h"
#include "support/mci_media.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

DWORD OpenDevices() {
    DWORD count = 99;
    MCI_SYSINFO_PARMS p{};
    p.lpstrReturn = reinterpret_cast<LPSTR>(&count);
    p.dwRetSize = sizeof count;
    mciSendCommandA(MCI_ALL_DEVICE_ID, MCI_SYSINFO, MCI_SYSINFO_QUANTITY | MCI_SYSINFO_OPEN,
                    reinterpret_cast<DWORD_PTR>(&p));
    return count;
}

// Polls the mode as the control's timer would, only more often; the time until it answered.
milliseconds WaitForMode(CMciPlayer& player, DWORD mode, milliseconds limit) {
    const auto start = Clock::now();
    while (player.GetMode() != mode && Clock::now() - start < limit) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

class MciPlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sink = dir.Path("sink.wav");
        ::setenv("TALREC_WAVE_DEVICE", "virtual", 1);
        ::setenv("TALREC_VIRTUAL_SINK", ("file:" + sink).c_str(), 1);
        SetSpeed(8);  // fast, yet slow enough that "playing" is seen right after Play
    }
    void TearDown() override { EXPECT_EQ(OpenDevices(), 0u) << "a device was left open"; }

    static void SetSpeed(int speed) {
        ::setenv("TALREC_VIRTUAL_SPEED", std::to_string(speed).c_str(), 1);
    }

    // Plays the file to its end and closes it; what reached the sink.
    mcitest::WavPcm PlayToEnd(const std::string& path, DWORD expectedMs) {
        CMciPlayer player;
        player.Open(path.c_str());
        EXPECT_NEAR(player.GetLastStatus(), expectedMs, 60.0) << "length";
        EXPECT_EQ(player.GetMode(), MCI_MODE_STOP);
        EXPECT_EQ(player.Play(), 1);
        EXPECT_EQ(player.GetMode(), MCI_MODE_PLAY);
        WaitForMode(player, MCI_MODE_STOP, milliseconds(20000));
        EXPECT_EQ(player.GetLastStatus(), MCI_MODE_STOP);
        EXPECT_EQ(player.Close(), 0u);
        return mcitest::ReadWav(sink);
    }

    mcitest::ScratchDir dir;
    std::string sink;
};

struct WavCase {
    const char* name;
    int rate;
    int channels;
    int bits;
    friend std::ostream& operator<<(std::ostream& os, const WavCase& c) { return os << c.name; }
};

class PcmFileTest : public MciPlayerTest, public ::testing::WithParamInterface<WavCase> {};

TEST_P(PcmFileTest, ReachesTheDeviceByteForByte) {
    const WavCase c = GetParam();
    const std::string path = dir.Path("in.wav");
    ASSERT_TRUE(mcitest::Run("sox -n -r " + std::to_string(c.rate) + " -c " +
                             std::to_string(c.channels) + " -b " + std::to_string(c.bits) +
                             (c.bits == 8 ? " -e unsigned-integer '" : " -e signed-integer '") +
                             path + "' synth 1.5 sine 200-2000 sine 330 vol 0.8"));
    const mcitest::WavPcm in = mcitest::ReadWav(path);
    const mcitest::WavPcm out = PlayToEnd(path, 1500);
    EXPECT_EQ(out.rate, c.rate);
    EXPECT_EQ(out.channels, c.channels);
    EXPECT_EQ(out.bits, c.bits);
    EXPECT_TRUE(out.data == in.data)
        << "sink " << out.data.size() << " bytes, file " << in.data.size();
}

INSTANTIATE_TEST_SUITE_P(Formats, PcmFileTest,
                         ::testing::Values(WavCase{"u8mono11025", 11025, 1, 8},
                                           WavCase{"u8stereo22050", 22050, 2, 8},
                                           WavCase{"s16mono8000", 8000, 1, 16},
                                           WavCase{"s16stereo22050", 22050, 2, 16},
                                           WavCase{"s16stereo44100", 44100, 2, 16},
                                           WavCase{"s16mono48000", 48000, 1, 16}),
                         [](const auto& info) { return std::string(info.param.name); });

struct CodedCase {
    const char* name;
    const char* file;
    const char* encode;  // ffmpeg output options
    friend std::ostream& operator<<(std::ostream& os, const CodedCase& c) { return os << c.name; }
};

class CodedFileTest : public MciPlayerTest, public ::testing::WithParamInterface<CodedCase> {};

TEST_P(CodedFileTest, ReachesTheDeviceAsFfmpegDecodesIt) {
    const CodedCase c = GetParam();
    const std::string path = dir.Path(c.file);
    ASSERT_TRUE(mcitest::Run(
        "ffmpeg -nostdin -v error -y -f lavfi -i "
        "'sine=frequency=440:duration=2:sample_rate=44100' -f lavfi -i "
        "'sine=frequency=550:duration=2:sample_rate=44100' -filter_complex amerge=inputs=2 " +
        std::string(c.encode) + " '" + path + "'"));
    const mcitest::WavPcm out = PlayToEnd(path, 2000);
    ASSERT_EQ(out.bits, 16);
    const mcitest::Bytes theirs = mcitest::FfmpegDecode(path, out.rate, out.channels);
    ASSERT_GT(theirs.size(), 0u);
    EXPECT_EQ(out.data.size(), theirs.size());
    // Where the device's format is the file's own, the decodes agree up to rounding; where
    // the rate is converted, the two resamplers may differ a little more.
    EXPECT_LE(mcitest::MaxSampleDifference(out.data, theirs), out.rate == 44100 ? 1 : 64);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, CodedFileTest,
    ::testing::Values(CodedCase{"wma", "in.wma", "-c:a wmav2 -b:a 128k"},
                      CodedCase{"mp3", "in.mp3", "-c:a libmp3lame -b:a 128k"},
                      CodedCase{"ogg", "in.ogg", "-c:a libvorbis"},
                      CodedCase{"flac", "in.flac", "-c:a flac"},
                      CodedCase{"video", "in.mkv",
                                "-f lavfi -i testsrc=d=2:s=64x48:r=5 -c:v mpeg4 -c:a flac"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MciPlayerTest, PauseHoldsHoweverLongAndPlayResumesWithNoSampleLostOrRepeated) {
    const std::string path = dir.Path("count.wav");
    mcitest::WriteCountingWav(path, 22050, 2, 22050 * 3);
    const mcitest::Bytes in = mcitest::ReadWav(path).data;
    SetSpeed(2);  // three seconds of sound in 1.5 s, of which the pauses below use 0.3 s

    CMciPlayer player(path.c_str());
    EXPECT_EQ(player.GetLastStatus(), 3000u);
    ASSERT_EQ(player.Play(), 1);
    for (const int ms : {37, 1, 90, 0, 150}) {
        std::this_thread::sleep_for(milliseconds(ms));
        EXPECT_EQ(player.Pause(), 0u);
        EXPECT_EQ(player.GetMode(), MCI_MODE_PAUSE);
        std::this_thread::sleep_for(milliseconds(300));  // 1.5 s of device time
        EXPECT_EQ(player.GetMode(), MCI_MODE_PAUSE);
        EXPECT_EQ(player.Play(), 1);
    }
    EXPECT_LT(WaitForMode(player, MCI_MODE_STOP, milliseconds(10000)).count(), 10000);
    ASSERT_EQ(player.Close(), 0u);
    const mcitest::WavPcm out = mcitest::ReadWav(sink);
    ASSERT_EQ(out.data.size(), in.size()) << "frames lost or repeated";
    for (std::size_t i = 0; i < in.size(); i += 4) {
        ASSERT_TRUE(out.data[i] == in[i] && out.data[i + 1] == in[i + 1])
            << "frame " << i / 4 << " of the counting signal";
    }
}

TEST_F(MciPlayerTest, TheEndIsAnsweredSoonAfterTheLastSampleHasPlayed) {
    SetSpeed(1);
    const std::string path = dir.Path("one.wav");
    ASSERT_TRUE(mcitest::Run("sox -n -r 22050 -c 2 -b 16 '" + path + "' synth 1 sine 440"));
    CMciPlayer player(path.c_str());
    const auto start = Clock::now();
    player.Play();
    WaitForMode(player, MCI_MODE_STOP, milliseconds(5000));
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    player.Close();
    // At real speed the sound cannot have played in less than its second; past that second
    // is the time the end took to show (with the start-up of the output in it).
    std::printf("1000 ms of sound answered stopped after %lld ms: %lld ms past its end\n",
                static_cast<long long>(took), static_cast<long long>(took - 1000));
    EXPECT_GE(took, 990);
    EXPECT_LT(took, 1000 + 500);
}

TEST_F(MciPlayerTest, AfterCloseNoDeviceIsOpenAndCommandsFailWithThePlatformsCode) {
    const std::string path = dir.Path("in.wav");
    ASSERT_TRUE(mcitest::Run("sox -n -r 8000 -c 1 -b 16 '" + path + "' synth 0.2 sine 440"));
    CMciPlayer player;
    EXPECT_EQ(player.GetMode(), CMciPlayer::kNoMode) << "before any open";
    EXPECT_EQ(player.Close(), MCIERR_INVALID_DEVICE_ID);
    player.Open(path.c_str());
    EXPECT_EQ(OpenDevices(), 1u);
    ASSERT_EQ(player.Play(), 1);
    EXPECT_EQ(player.Close(), 0u);
    EXPECT_EQ(OpenDevices(), 0u);
    EXPECT_EQ(player.GetMode(), CMciPlayer::kNoMode);
    EXPECT_NE(player.GetMode(), MCI_MODE_STOP);
    EXPECT_EQ(player.GetLastStatus(), CMciPlayer::kNoMode);
    EXPECT_EQ(player.Pause(), MCIERR_INVALID_DEVICE_ID);
    EXPECT_EQ(player.Play(), 1);
    EXPECT_EQ(player.Close(), MCIERR_INVALID_DEVICE_ID);
}

TEST_F(MciPlayerTest, FilesThatCannotBePlayedOpenQuietlyAndNothingPlays) {
    const std::string wma = dir.Path("whole.wma");
    ASSERT_TRUE(
        mcitest::Run("ffmpeg -nostdin -v error -y -f lavfi -i "
                     "'sine=frequency=440:duration=1' -c:a wmav2 '" +
                     wma + "'"));
    const mcitest::Bytes bytes = mcitest::ReadAll(wma);
    mcitest::WriteAll(dir.Path("cut.wma"), mcitest::Bytes(bytes.begin(), bytes.begin() + 400));
    mcitest::WriteAll(dir.Path("empty.mp3"), {});
    const std::string text = "<html>not a sound</html>\n";
    mcitest::WriteAll(dir.Path("page.wav"), mcitest::Bytes(text.begin(), text.end()));

    for (const char* name : {"missing.wav", "empty.mp3", "page.wav", "cut.wma"}) {
        SCOPED_TRACE(name);
        CMciPlayer player;
        player.Open(dir.Path(name).c_str());
        EXPECT_EQ(player.GetLastStatus(), 0u);
        EXPECT_EQ(player.Play(), 1);
        EXPECT_EQ(player.GetMode(), CMciPlayer::kNoMode);
        EXPECT_EQ(OpenDevices(), 0u);
        EXPECT_EQ(player.Close(), MCIERR_INVALID_DEVICE_ID);
    }
    EXPECT_FALSE(std::filesystem::exists(sink)) << "something reached the output";
}

TEST_F(MciPlayerTest, TheOperationsNothingCallsDoWhatTheySay) {
    const std::string path = dir.Path("in.wav");
    ASSERT_TRUE(mcitest::Run("sox -n -r 16000 -c 1 -b 16 '" + path + "' synth 0.5 sine 440"));
    const mcitest::Bytes in = mcitest::ReadWav(path).data;

    CMciPlayer untyped;
    untyped.OpenWithoutType(path.c_str());
    EXPECT_EQ(untyped.GetLastStatus(), 500u);
    EXPECT_EQ(untyped.SeekToEnd(), 1);
    untyped.Play();
    EXPECT_EQ(untyped.GetMode(), MCI_MODE_STOP) << "nothing is left after the end";
    EXPECT_EQ(untyped.SeekToStart(), 1);
    untyped.Play();
    WaitForMode(untyped, MCI_MODE_STOP, milliseconds(5000));
    EXPECT_EQ(untyped.Close(), 0u);
    EXPECT_EQ(mcitest::ReadWav(sink).data, in);

    // This device type cannot record: the recording constructor leaves no device open.
    CMciPlayer recorder(dir.Path("rec.wav").c_str(), 2);
    EXPECT_EQ(recorder.GetMode(), CMciPlayer::kNoMode);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("rec.wav")));
    EXPECT_EQ(recorder.SeekToStart(), 1);
    EXPECT_EQ(recorder.SeekToEnd(), 1);
}

TEST_F(MciPlayerTest, AClosedPlayerOpensAndPlaysAgain) {
    const std::string path = dir.Path("in.wav");
    ASSERT_TRUE(mcitest::Run("sox -n -r 8000 -c 1 -b 16 '" + path + "' synth 0.3 sine 440"));
    SetSpeed(1);
    CMciPlayer player;
    player.Open(path.c_str());
    ASSERT_EQ(player.Close(), 0u);
    player.Open(path.c_str());
    player.Play();
    EXPECT_EQ(player.GetMode(), MCI_MODE_PLAY) << "the second device, not the closed first";
    WaitForMode(player, MCI_MODE_STOP, milliseconds(5000));
    EXPECT_EQ(player.Close(), 0u);
}

}  // namespace
