// The output engine: what reaches the device for each range, the ring refill, stop and pause,
// its answers without a device, and a refused write. The virtual sink (a WAV file) shows what
// was heard; one test plays through an ALSA file plug-in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "audio/WaveOut.h"
#include "support/wave_test_util.h"
#include "wave_in_window.h"

using namespace std::chrono_literals;
using wavetest::EnvVar;

namespace {

std::string AlsaOutFile() {
    return wavetest::ScratchPath("alsa-play.raw");
}

// alsa-lib reads its configuration once per process: the playback PCM is defined first.
const bool kAlsaConfigured = [] {
    const std::string conf = wavetest::ScratchPath("alsa-play.conf");
    std::ofstream(conf) << "pcm.talrec_out { type file slave.pcm { type null } file \""
                        << AlsaOutFile() << "\" format \"raw\" }\n";
    std::string path = conf;
    if (std::filesystem::exists("/usr/share/alsa/alsa.conf"))
        path = "/usr/share/alsa/alsa.conf:" + conf;
    setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    return true;
}();

// A stereo 16-bit sound of `bytes` bytes whose samples count up.
CWave Counting(std::size_t bytes) {
    CWave w;
    w.SetFormat(2, 22050, 16);
    const std::vector<BYTE> data = wavetest::Counting16(bytes / 2, 1);
    BYTE* block = new BYTE[bytes];
    std::copy(data.begin(), data.end(), block);
    w.SetBuffer(block, static_cast<DWORD>(bytes / 4), false);
    return w;
}

std::vector<BYTE> Bytes(const CWave& w, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    to = std::min<std::size_t>(to, w.GetBufferLength());
    return std::vector<BYTE>(w.GetBuffer() + from, w.GetBuffer() + to);
}

class WaveOutTest : public wavetest::ManualClockTest {
  protected:
    void SetUp() override {
        ManualClockTest::SetUp();
        std::filesystem::remove(sink_);
    }
    // Moves the clock on until the engine has played everything it queued.
    void PlayOut(CWaveOut& out) {
        for (int i = 0; i < 2000 && out.IsPlaying(); ++i) {
            Frames(1024);
            Settle();
        }
        EXPECT_FALSE(out.IsPlaying());
    }
    std::vector<BYTE> Heard() { return wavetest::ReadWavData(sink_); }

    const std::string sink_ = wavetest::ScratchPath("out-sink.wav");
    EnvVar sinkVar_{"TALREC_VIRTUAL_SINK", "file:" + sink_};
};

TEST_F(WaveOutTest, RangesOfEveryLengthPlayExactlyTheirBytes) {
    struct Case {
        std::size_t bytes;
        bool played3;  // Play's answer: three chunks queued
    } cases[] = {{3 * 4096, true}, {10000, true}, {8192, false}, {4000, false}, {100000, true}};
    for (const Case& c : cases) {
        const CWave sound = Counting(c.bytes);
        CWaveOut out(sound, CWaveDevice(WAVE_MAPPER));
        ASSERT_TRUE(out.Open()) << out.GetErrorText();
        Begin();
        EXPECT_EQ(out.Play(), c.played3) << c.bytes;
        EXPECT_TRUE(out.IsPlaying()) << c.bytes;
        PlayOut(out);
        EXPECT_EQ(out.GetPosition(), static_cast<int>(c.bytes / 4)) << c.bytes;
        ASSERT_TRUE(out.Close());
        EXPECT_EQ(Heard(), Bytes(sound)) << c.bytes << " bytes";
    }
}

TEST_F(WaveOutTest, FrameRangesStartAndEndWhereAsked) {
    const CWave sound = Counting(40000);  // 10000 frames of 4 bytes
    struct Case {
        int first, end;
        std::size_t from, to;
    } cases[] = {{1000, -1, 4000, 40000},
                 {-1, 500, 0, 2000},
                 {-1, 20000, 0, 40000},
                 {2000, 2600, 8000, 10400}};
    for (const Case& c : cases) {
        CWaveOut out(sound, CWaveDevice(WAVE_MAPPER));
        ASSERT_TRUE(out.Open());
        Begin();
        out.Play(c.first, c.end);
        PlayOut(out);
        ASSERT_TRUE(out.Close());
        EXPECT_EQ(Heard(), Bytes(sound, c.from, c.to)) << c.first << ".." << c.end;
    }
}

TEST_F(WaveOutTest, EmptyRangesQueueNothing) {
    const CWave sound = Counting(40000);
    for (auto [first, end] :
         {std::pair{-1, 0}, std::pair{10000, -1}, std::pair{12000, 11000}, std::pair{500, 400}}) {
        CWaveOut out(sound, CWaveDevice(WAVE_MAPPER));
        ASSERT_TRUE(out.Open());
        EXPECT_FALSE(out.Play(first, end));
        EXPECT_FALSE(out.IsPlaying());
        ASSERT_TRUE(out.Close());
        EXPECT_TRUE(Heard().empty()) << first << ".." << end;
    }
    CWaveOut empty(Counting(0), CWaveDevice(WAVE_MAPPER));
    ASSERT_TRUE(empty.Open());
    EXPECT_FALSE(empty.Play());
    EXPECT_FALSE(empty.IsPlaying());
    EXPECT_EQ(empty.GetErrorText(), "");
}

TEST_F(WaveOutTest, StopHandsBackEveryChunkAndPlaysNoMore) {
    const CWave sound = Counting(100000);
    CWaveOut out(sound, CWaveDevice(WAVE_MAPPER));
    ASSERT_TRUE(out.Open());
    Begin();
    ASSERT_TRUE(out.Play());
    for (int i = 0; i < 5; ++i) {
        Frames(1024);
        Settle();
    }
    ASSERT_TRUE(out.Stop());
    EXPECT_FALSE(out.IsPlaying());
    const int stoppedAt = out.GetPosition();
    EXPECT_EQ(stoppedAt, 0) << "the reset starts the position again";
    Frames(20000);
    Settle();
    EXPECT_FALSE(out.IsPlaying());
    ASSERT_TRUE(out.Close());
    const std::vector<BYTE> heard = Heard();
    EXPECT_EQ(heard.size(), 5u * 4096) << "stopped where the clock stood";
    EXPECT_EQ(heard, Bytes(sound, 0, heard.size()));

    // Stop, then Play again on the same open device: from the start.
    CWaveOut again(sound, CWaveDevice(WAVE_MAPPER));
    ASSERT_TRUE(again.Open());
    Begin();
    ASSERT_TRUE(again.Play());
    Frames(100);
    Settle();
    ASSERT_TRUE(again.Stop());
    Begin();
    ASSERT_TRUE(again.Play(-1, 3000));
    PlayOut(again);
    ASSERT_TRUE(again.Close());
    std::vector<BYTE> expected = Bytes(sound, 0, 400);
    const std::vector<BYTE> whole = Bytes(sound, 0, 12000);
    expected.insert(expected.end(), whole.begin(), whole.end());
    EXPECT_EQ(Heard(), expected);
}

// Real time, fast clock: pauses and continues from this thread while the callback refills
// the ring on the device thread. Every byte is heard once, in order.
TEST(WaveOut, PauseAndContinueLoseAndRepeatNoByte) {
    const std::string sink = wavetest::ScratchPath("pause-sink.wav");
    EnvVar s("TALREC_VIRTUAL_SINK", "file:" + sink);
    EnvVar speed("TALREC_VIRTUAL_SPEED", "20");
    const CWave sound = Counting(88200 * 3);
    CWaveOut out(sound, CWaveDevice(WAVE_MAPPER));
    ASSERT_TRUE(out.Open());
    ASSERT_TRUE(out.Play());
    std::mt19937 rng(5);
    int pauses = 0;
    for (int i = 0; i < 2000 && out.IsPlaying(); ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 6000));
        ASSERT_TRUE(out.Pause());
        ++pauses;
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
        ASSERT_TRUE(out.Continue());
    }
    EXPECT_FALSE(out.IsPlaying());
    EXPECT_GT(pauses, 10);
    ASSERT_TRUE(out.Close());
    EXPECT_EQ(wavetest::ReadWavData(sink), Bytes(sound));
}

TEST(WaveOut, WithoutADeviceEveryStepAnswersQuietly) {
    CWaveOut out;
    EXPECT_TRUE(out.Pause());
    EXPECT_TRUE(out.Continue());
    EXPECT_TRUE(out.Stop());
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(out.GetPosition(), -1);
    EXPECT_EQ(out.GetErrorText(), "");
    EXPECT_FALSE(out.IsPlaying());
    out.SetWave(Counting(20000));
    EXPECT_FALSE(out.Play()) << "no device to prepare a header on";
    EXPECT_FALSE(out.IsPlaying());
    char text[MAXERRORLENGTH];
    waveOutGetErrorTextA(MMSYSERR_INVALHANDLE, text, MAXERRORLENGTH);
    EXPECT_EQ(out.GetErrorText(), text);

    ASSERT_TRUE(out.Open());
    ASSERT_TRUE(out.Close());
    EXPECT_TRUE(out.Close()) << "a second close";
    EXPECT_EQ(out.GetPosition(), -1);
}

TEST_F(WaveOutTest, ARefusedFirstWriteLeavesNothingQueued) {
    CWaveOut out(Counting(40000), CWaveDevice(WAVE_MAPPER));
    ASSERT_TRUE(out.Open());
    talrec::wave::LoseVirtualDevices();
    out.Play();  // the device finds itself gone and hands the chunks back
    for (int i = 0; i < 500 && out.IsPlaying(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(out.IsPlaying());
    EXPECT_FALSE(out.Play());
    EXPECT_FALSE(out.IsPlaying());
    char text[MAXERRORLENGTH];
    waveOutGetErrorTextA(MMSYSERR_NODRIVER, text, MAXERRORLENGTH);
    EXPECT_EQ(out.GetErrorText(), text);
    EXPECT_TRUE(out.Close());
}

TEST(WaveOut, BytesPlayedThroughAnAlsaPcmEqualTheSound) {
    ASSERT_TRUE(kAlsaConfigured);
    std::filesystem::remove(AlsaOutFile());
    EnvVar dev("TALREC_WAVE_DEVICE", "alsa:talrec_out");
    const CWave sound = Counting(100002 * 2);
    CWaveOut out(sound, CWaveDevice(WAVE_MAPPER));
    ASSERT_TRUE(out.Open()) << out.GetErrorText();
    ASSERT_TRUE(out.Play());
    for (int i = 0; i < 1000 && out.IsPlaying(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(out.IsPlaying());
    ASSERT_TRUE(out.Close());
    std::ifstream in(AlsaOutFile(), std::ios::binary);
    const std::vector<BYTE> played((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
    EXPECT_EQ(played, Bytes(sound));
}

}  // namespace
