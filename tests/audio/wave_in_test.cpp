// The capture engine on the virtual device: the chunks, the levels it posts, pause and
// continue, the hand-off at the end, and its answers without a device.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <thread>

#include "audio/WaveIn.h"
#include "support/wave_test_util.h"
#include "wave_in_window.h"

using namespace std::chrono_literals;
using wavetest::EnvVar;
using wavetest::LevelWindow;
using wavetest::Pcm;

namespace {

constexpr DWORD kBufferBytes = 4096;

std::int16_t Tone(double freq, double amp, std::uint64_t n) {
    return static_cast<std::int16_t>(
        std::lround(amp * 32767 * std::sin(2 * std::numbers::pi * freq * n / 22050)));
}

std::vector<BYTE> Samples(const CWave& w) {
    return std::vector<BYTE>(w.GetBuffer(), w.GetBuffer() + w.GetBufferLength());
}

// Writes `samples` (16-bit) as a WAV file of the format and makes it the virtual source.
std::unique_ptr<EnvVar> FileSource(const std::string& name, const WAVEFORMATEX& f,
                                   const std::vector<std::int16_t>& samples) {
    std::vector<BYTE> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    const std::string path = wavetest::ScratchPath(name);
    wavetest::WriteWav(path, f, bytes);
    return std::make_unique<EnvVar>("TALREC_VIRTUAL_SOURCE", "file:" + path);
}

CWaveIn& Prepared(CWaveIn& in, const WAVEFORMATEX& f, HWND window = nullptr) {
    in.SetFormat(f);
    in.SetWindow(window);
    return in;
}

// On the real clock: the capture holds the time between the start and the close (the bounds
// measured around both, so that a loaded machine does not make it fail), the tone, and one
// level a buffer.
TEST(WaveIn, ToneAtRealSpeedGivesTheTimeRecordedAndItsLevels) {
    EnvVar src("TALREC_VIRTUAL_SOURCE", "tone:440:0.3");
    EnvVar speed("TALREC_VIRTUAL_SPEED", "1");
    LevelWindow window;
    CWaveIn in;
    Prepared(in, Pcm(2, 22050, 16), window.hwnd());
    ASSERT_TRUE(in.Open()) << in.GetErrorText();
    using Steady = std::chrono::steady_clock;
    const auto beforeStart = Steady::now();
    ASSERT_TRUE(in.Record(kBufferBytes));
    const auto afterStart = Steady::now();
    std::this_thread::sleep_for(300ms);
    const auto beforeClose = Steady::now();
    ASSERT_TRUE(in.Close());
    const auto afterClose = Steady::now();
    const CWave wave = in.GetWave();

    const auto framesIn = [](Steady::duration d) {
        return std::chrono::duration<double>(d).count() * 22050;
    };
    const std::int64_t frames = wave.GetNumSamples();
    // The close takes in what the two queued buffers can hold: a device thread that the
    // machine holds back may have fallen that far behind.
    EXPECT_GE(static_cast<double>(frames), framesIn(beforeClose - afterStart) - 2048);
    EXPECT_LE(static_cast<double>(frames), framesIn(afterClose - beforeStart) + 1);
    const std::vector<BYTE> data = Samples(wave);
    for (std::int64_t n = 0; n < frames; ++n) {
        std::int16_t left, right;
        std::memcpy(&left, &data[4 * n], 2);
        std::memcpy(&right, &data[4 * n + 2], 2);
        ASSERT_EQ(left, Tone(440, 0.3, n)) << "frame " << n;
        ASSERT_EQ(right, left) << "frame " << n;
    }

    // One level per returned buffer: 1024 frames each, the last one what the close took.
    const std::vector<WPARAM> levels = window.Levels();
    ASSERT_EQ(levels.size(), static_cast<std::size_t>((frames + 1023) / 1024));
    for (std::size_t k = 0; k < levels.size(); ++k) {
        const std::int64_t first = static_cast<std::int64_t>(k) * 1024;
        const std::int64_t count = std::min<std::int64_t>(1024, frames - first);
        std::uint64_t sum = 0;
        for (std::int64_t n = first; n < first + count; ++n) sum += 2 * std::abs(Tone(440, 0.3, n));
        ASSERT_EQ(levels[k], std::min<std::uint64_t>(9000, sum / (2 * count)))
            << "level of buffer " << k;
    }
    EXPECT_FALSE(window.NonZeroLParam());
}

class WaveInClocked : public wavetest::ManualClockTest {};

TEST_F(WaveInClocked, FullScaleGivesNineThousandAndTinyBuffersNoLevel) {
    // 2 buffers of full scale (both signs), then one of 1000 in absolute value.
    std::vector<std::int16_t> s(2048 * 3);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool loud = i < 4096;
        s[i] = static_cast<std::int16_t>(loud ? (i % 2 ? 32767 : -32768) : (i % 2 ? 1000 : -1000));
    }
    const WAVEFORMATEX f = Pcm(2, 22050, 16);
    auto src = FileSource("levels.wav", f, s);
    LevelWindow window;
    CWaveIn in;
    Prepared(in, f, window.hwnd());
    ASSERT_TRUE(in.Open());
    ASSERT_TRUE(in.Record(kBufferBytes));
    Begin();
    Frames(3 * 1024);
    Settle();
    ASSERT_TRUE(in.Close());
    EXPECT_EQ(window.Levels(), (std::vector<WPARAM>{9000, 9000, 1000}));
    EXPECT_EQ(in.GetWave().GetNumSamples(), 3u * 1024);

    // 8-bit mono: a buffer handed back with one byte posts no level but keeps its frame; the
    // empty one handed back at the close adds no chunk.
    CWaveIn tiny;
    EnvVar silence("TALREC_VIRTUAL_SOURCE", "silence");
    LevelWindow window2;
    Prepared(tiny, Pcm(1, 8000, 8), window2.hwnd());
    ASSERT_TRUE(tiny.Open());
    ASSERT_TRUE(tiny.Record(kBufferBytes));
    Begin();
    Frames(1, 8000);
    ASSERT_TRUE(tiny.Pause());
    ASSERT_TRUE(tiny.Close());
    EXPECT_TRUE(window2.Levels().empty());
    const CWave w = tiny.GetWave();
    ASSERT_EQ(w.GetNumSamples(), 1u);
    EXPECT_EQ(w.GetBuffer()[0], 0x80);
}

TEST_F(WaveInClocked, CloseKeepsWhatEveryBufferHoldsAndQueuesNothingMore) {
    EnvVar src("TALREC_VIRTUAL_SOURCE", "tone:1000:0.3");
    CWaveIn in;
    Prepared(in, Pcm(2, 22050, 16));
    ASSERT_TRUE(in.Open());
    ASSERT_TRUE(in.Record(kBufferBytes));
    EXPECT_TRUE(in.IsRecording());
    Begin();
    Frames(1500);  // one full buffer and part of the next
    ASSERT_TRUE(in.Close());
    EXPECT_FALSE(in.IsRecording());
    EXPECT_EQ(in.GetNumSamples(), 1500);
    Frames(5000);
    Settle();
    EXPECT_EQ(in.GetNumSamples(), 1500) << "captured after the close";
    const CWave w = in.GetWave();
    ASSERT_EQ(w.GetNumSamples(), 1500u);
    const std::vector<BYTE> data = Samples(w);
    for (std::uint64_t n = 0; n < 1500; ++n) {
        std::int16_t v;
        std::memcpy(&v, &data[4 * n], 2);
        ASSERT_EQ(v, Tone(1000, 0.3, n)) << "frame " << n;
    }
    // GetWave does not empty the chunks; a second one gives the same sound.
    EXPECT_EQ(Samples(in.GetWave()), data);
}

TEST_F(WaveInClocked, ASecondRecordDiscardsTheFirst) {
    EnvVar src("TALREC_VIRTUAL_SOURCE", "tone:300:0.4");
    CWaveIn in;
    Prepared(in, Pcm(1, 22050, 16));
    ASSERT_TRUE(in.Open());
    ASSERT_TRUE(in.Record(kBufferBytes));
    Begin();
    Frames(3000);
    Settle();
    ASSERT_TRUE(in.Record(kBufferBytes));  // resets the device, drops chunks and samples
    EXPECT_EQ(in.GetNumSamples(), 0);
    Begin();
    Frames(100);
    ASSERT_TRUE(in.Close());
    EXPECT_EQ(in.GetWave().GetNumSamples(), 100u);
}

// Pauses and continues at arbitrary moments, in real time, from this thread while the
// callback recycles the buffers: what is captured is the source with no byte lost or repeated.
// Longer than a memory chunk (1 MiB), so that buffers the pauses cut short straddle its end.
TEST(WaveIn, PauseAndContinueLoseAndRepeatNoByte) {
    const std::size_t total = 22050 * 26;  // 26 s of mono sound, counting up
    std::vector<std::int16_t> s(total);
    for (std::size_t i = 0; i < total; ++i) s[i] = static_cast<std::int16_t>(i * 7 + 1);
    const WAVEFORMATEX f = Pcm(1, 22050, 16);
    auto src = FileSource("counting.wav", f, s);
    EnvVar speed("TALREC_VIRTUAL_SPEED", "60");
    CWaveIn in;
    Prepared(in, f);
    ASSERT_TRUE(in.Open());
    ASSERT_TRUE(in.Record(kBufferBytes));
    std::mt19937 rng(11);
    int pauses = 0;
    while (static_cast<std::size_t>(in.GetNumSamples()) < total + 4096) {
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 8000));
        ASSERT_TRUE(in.Pause()) << in.GetErrorText();
        ++pauses;
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
        ASSERT_TRUE(in.Continue()) << in.GetErrorText();
    }
    ASSERT_TRUE(in.Close());
    EXPECT_GT(pauses, 10);
    const CWave w = in.GetWave();
    ASSERT_GE(w.GetNumSamples(), total);
    const auto* got = reinterpret_cast<const BYTE*>(w.GetBuffer());
    for (std::size_t i = 0; i < total; ++i) {
        std::int16_t v;
        std::memcpy(&v, got + 2 * i, 2);
        ASSERT_EQ(v, s[i]) << "sample " << i;
    }
    for (std::size_t i = total; i < w.GetNumSamples(); ++i)
        ASSERT_EQ(got[2 * i] | got[2 * i + 1], 0) << "the file source is silent after its end";
}

TEST(WaveIn, WithoutADeviceEveryStepAnswersQuietly) {
    CWaveIn in;
    EXPECT_TRUE(in.Pause());
    EXPECT_TRUE(in.Continue());
    EXPECT_TRUE(in.Reset());
    EXPECT_TRUE(in.Close());
    EXPECT_EQ(in.GetPosition(), -1);
    EXPECT_EQ(in.GetErrorText(), "");
    EXPECT_FALSE(in.IsRecording());
    // No chunks: the capture format with no samples (the default is 1 channel, 22050, 16).
    CWave w = in.GetWave();
    EXPECT_EQ(w.GetNumSamples(), 0u);
    EXPECT_EQ(w.GetFormat().nChannels, 1);
    EXPECT_EQ(w.GetFormat().nSamplesPerSec, 22050u);
    // Record needs an open device: the header cannot be prepared.
    EXPECT_FALSE(in.Record(kBufferBytes));
    char text[MAXERRORLENGTH];
    waveInGetErrorTextA(MMSYSERR_INVALHANDLE, text, MAXERRORLENGTH);
    EXPECT_EQ(in.GetErrorText(), text);
}

TEST(WaveIn, AFailedOpenKeepsTheDevicesReason) {
    EnvVar dev("TALREC_WAVE_DEVICE", "nothing-such");
    CWaveIn in(Pcm(2, 22050, 16), CWaveDevice(WAVE_MAPPER));
    EXPECT_FALSE(in.Open());
    char text[MAXERRORLENGTH];
    waveInGetErrorTextA(MMSYSERR_NODRIVER, text, MAXERRORLENGTH);
    EXPECT_EQ(in.GetErrorText(), text);
    EXPECT_TRUE(in.Close());
    EXPECT_EQ(in.GetPosition(), -1);
}

TEST_F(WaveInClocked, PositionAndAnErrorTextThatClearsOnSuccess) {
    CWaveIn in;
    Prepared(in, Pcm(2, 22050, 16));
    EXPECT_FALSE(in.Record(kBufferBytes));
    EXPECT_NE(in.GetErrorText(), "");
    ASSERT_TRUE(in.Open());
    EXPECT_EQ(in.GetErrorText(), "");
    ASSERT_TRUE(in.Record(kBufferBytes));
    Begin();
    Frames(700);
    EXPECT_EQ(in.GetPosition(), 700);
    ASSERT_TRUE(in.Close());
}

}  // namespace
