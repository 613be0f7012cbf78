// The device contract on the virtual device, stepped by a manual clock: order, stop, reset,
// calls from inside the callback, pause without loss, positions, a lost device.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <random>
#include <set>
#include <thread>

#include "platform/ext/virtualwave.h"
#include "platform/mmwave.h"
#include "support/wave_test_util.h"

using namespace std::chrono_literals;
using talrec::wave::ManualClock;
using wavetest::Buffer;
using wavetest::EnvVar;
using wavetest::kHdr;
using wavetest::Pcm;
using wavetest::Queue;
using wavetest::Recorder;

namespace {

// Runs the virtual devices opened in a test on a clock that moves only when told to.
class VirtualDevice : public ::testing::Test {
  protected:
    void SetUp() override { talrec::wave::SetVirtualClock(clock_); }
    void TearDown() override { talrec::wave::SetVirtualClock(nullptr); }

    // Marks the start of the device's run: frames are counted from here.
    void Begin() {
        t0_ = clock_->Now();
        frames_ = 0;
    }
    // Moves the clock on by exactly `n` frames at `rate`.
    void Frames(std::uint64_t n, DWORD rate = 22050) {
        frames_ += n;
        const std::int64_t ns =
            static_cast<std::int64_t>((frames_ * 1'000'000'000ull + rate - 1) / rate);
        clock_->Advance(t0_ + ns - clock_->Now());
    }
    // Waits until the device threads have done all the clock allows; for checks that nothing
    // more came.
    static void Settle() { EXPECT_TRUE(talrec::wave::WaitUntilDevicesIdle()) << "never idle"; }

    // Queues the buffers on the capture device and starts it: frames count from here.
    void Start(HWAVEIN in, std::initializer_list<Buffer*> buffers) {
        Queue(in, buffers);
        ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
        Begin();
    }
    // Writes the buffers to the playback device paused, so that they start together, and
    // restarts it: frames count from here.
    void Play(HWAVEOUT out, std::initializer_list<Buffer*> buffers) {
        ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
        wavetest::Write(out, buffers);
        ASSERT_EQ(waveOutRestart(out), MMSYSERR_NOERROR);
        Begin();
    }
    // The first buffer of `frames` frames comes back at its last frame, not one before.
    void ExpectFirstBackAtFrame(Recorder& r, std::uint64_t frames) {
        Frames(frames - 1);
        Settle();
        EXPECT_EQ(r.DataCount(), 0u) << "a buffer came back before its last frame";
        Frames(1);
        ASSERT_TRUE(r.WaitData(1));
    }

    std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
    std::int64_t t0_ = 0;
    std::uint64_t frames_ = 0;
};

std::int16_t ToneSample(double freq, double amp, std::uint64_t n, DWORD rate) {
    return static_cast<std::int16_t>(
        std::lround(amp * 32767 * std::sin(2 * std::numbers::pi * freq * n / rate)));
}

std::int16_t Sample16(const std::vector<BYTE>& d, std::size_t i) {
    return static_cast<std::int16_t>(d[2 * i] | d[2 * i + 1] << 8);
}

HWAVEIN OpenIn(Recorder& r, const WAVEFORMATEX& f = Pcm(2, 22050, 16)) {
    HWAVEIN in = nullptr;
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, r.InProc(), r.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    return in;
}
HWAVEOUT OpenOut(Recorder& r, const WAVEFORMATEX& f = Pcm(2, 22050, 16)) {
    HWAVEOUT out = nullptr;
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &f, r.OutProc(), r.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    return out;
}

TEST_F(VirtualDevice, CaptureHandsBackFullBuffersInOrderOnOneDeviceThread) {
    EnvVar src("TALREC_VIRTUAL_SOURCE", "tone:1000:0.25");
    Recorder r;
    std::mutex idMu;
    std::set<std::thread::id> threads;
    r.onData = [&](WAVEHDR*) {
        std::lock_guard l(idMu);
        threads.insert(std::this_thread::get_id());
    };
    HWAVEIN in = OpenIn(r);
    Buffer b0(4096), b1(4096), b2(4096);
    Start(in, {&b0, &b1, &b2});
    ExpectFirstBackAtFrame(r, 1024);
    Frames(2048);
    ASSERT_TRUE(r.WaitData(3));

    const auto data = r.Data();
    ASSERT_EQ(data.size(), 3u);
    EXPECT_EQ(data[0].hdr, &b0.hdr);
    EXPECT_EQ(data[1].hdr, &b1.hdr);
    EXPECT_EQ(data[2].hdr, &b2.hdr);
    const std::vector<BYTE> all = r.Joined();
    ASSERT_EQ(all.size(), 3 * 4096u);
    for (std::size_t n = 0; n < 3072; ++n) {
        ASSERT_EQ(Sample16(all, 2 * n), ToneSample(1000, 0.25, n, 22050)) << "frame " << n;
        ASSERT_EQ(Sample16(all, 2 * n + 1), Sample16(all, 2 * n)) << "frame " << n;
    }
    EXPECT_EQ(b0.Flags(), WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(VirtualDevice, StopHandsBackThePartBufferAndTheSourceHoldsWhileStopped) {
    EnvVar src("TALREC_VIRTUAL_SOURCE", "tone:440:0.5");
    Recorder r;
    HWAVEIN in = OpenIn(r);
    Buffer b0(4096), b1(4096);
    Start(in, {&b0, &b1});
    Frames(100);
    ASSERT_EQ(waveInStop(in), MMSYSERR_NOERROR);
    ASSERT_TRUE(r.WaitData(1));
    EXPECT_EQ(r.Data()[0].hdr, &b0.hdr);
    EXPECT_EQ(r.Data()[0].bytes, 400u);
    EXPECT_EQ(b1.Flags(), WHDR_PREPARED | WHDR_INQUEUE) << "the empty buffer stays queued";
    EXPECT_EQ(waveInStop(in), MMSYSERR_NOERROR);  // stopping twice hands back nothing more
    Frames(5000);
    Settle();
    EXPECT_EQ(r.DataCount(), 1u);

    Start(in, {});
    Frames(1024);
    ASSERT_TRUE(r.WaitData(2));
    const auto all = r.Joined();
    ASSERT_EQ(all.size(), 400u + 4096u);
    for (std::size_t n = 0; n < 1124; ++n)
        ASSERT_EQ(Sample16(all, 2 * n), ToneSample(440, 0.5, n, 22050)) << "frame " << n;
    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(VirtualDevice, ResetHandsBackEveryBufferAndWaitsForTheirCallbacks) {
    Recorder r;
    std::atomic<int> finished{0};
    r.onData = [&](WAVEHDR*) {
        std::this_thread::sleep_for(20ms);
        finished.fetch_add(1);
    };
    HWAVEIN in = OpenIn(r);
    Buffer b0(4096), b1(4096), b2(4096);
    Start(in, {&b0, &b1, &b2});
    Frames(10);
    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(finished.load(), 3);
    const auto data = r.Data();
    ASSERT_EQ(data.size(), 3u);
    EXPECT_EQ(data[0].bytes, 40u);
    EXPECT_EQ(data[1].bytes, 0u);
    EXPECT_EQ(data[2].bytes, 0u);
    for (Buffer* b : {&b0, &b1, &b2}) EXPECT_EQ(b->Flags(), WHDR_PREPARED | WHDR_DONE);
    MMTIME t{TIME_SAMPLES, {}};
    ASSERT_EQ(waveInGetPosition(in, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.sample, 0u);
    // Reset stopped the device: nothing more is captured until it starts again.
    Queue(in, {&b0});
    Frames(2048);
    Settle();
    EXPECT_EQ(r.DataCount(), 3u);
    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(VirtualDevice, PositionCountsFramesSinceStartOrReset) {
    Recorder r;
    HWAVEIN in = OpenIn(r);
    Buffer b0(4096), b1(4096);
    Start(in, {&b0, &b1});
    Frames(1300);
    ASSERT_TRUE(r.WaitData(1));
    MMTIME t{TIME_SAMPLES, {}};
    ASSERT_EQ(waveInGetPosition(in, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.sample, 1300u);
    t.wType = TIME_BYTES;
    ASSERT_EQ(waveInGetPosition(in, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.cb, 5200u);
    t.wType = 0x0008;  // TIME_SMPTE: answered in samples
    ASSERT_EQ(waveInGetPosition(in, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.wType, TIME_SAMPLES);
    EXPECT_EQ(waveInGetPosition(in, &t, 4), MMSYSERR_INVALPARAM);
    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

// The callback queues each buffer again from inside itself; stops and starts come at
// arbitrary points. What is captured must be the source, every byte once, in order.
TEST_F(VirtualDevice, StopsAndStartsLoseAndRepeatNoByte) {
    const std::vector<BYTE> source = wavetest::Counting16(30000, 1);
    const std::string path = wavetest::ScratchPath("count.wav");
    wavetest::WriteWav(path, Pcm(1, 22050, 16), source);
    EnvVar src("TALREC_VIRTUAL_SOURCE", "file:" + path);
    Recorder r;
    HWAVEIN in = nullptr;
    std::atomic<bool> requeue{true};
    std::atomic<int> requeueFailures{0};
    r.onData = [&](WAVEHDR* h) {
        if (!requeue) return;
        if (waveInUnprepareHeader(in, h, kHdr) != MMSYSERR_NOERROR ||
            waveInPrepareHeader(in, h, kHdr) != MMSYSERR_NOERROR ||
            waveInAddBuffer(in, h, kHdr) != MMSYSERR_NOERROR)
            requeueFailures.fetch_add(1);
    };
    in = OpenIn(r, Pcm(1, 22050, 16));
    Buffer b0(1000), b1(1000);  // buffer ends fall anywhere relative to the stops
    Queue(in, {&b0, &b1});
    std::mt19937 rng(7);
    int stops = 0;
    while (r.Joined().size() < source.size() + 4000) {
        ASSERT_NO_FATAL_FAILURE(Start(in, {}));
        Frames(std::uniform_int_distribution<int>(1, 2500)(rng));
        // Half of the stops come before the device thread has caught up with the clock.
        if (rng() % 2) Settle();
        ASSERT_EQ(waveInStop(in), MMSYSERR_NOERROR);
        ++stops;
        Frames(std::uniform_int_distribution<int>(0, 3000)(rng));  // time passes while stopped
    }
    requeue = false;
    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_GT(stops, 20);
    EXPECT_EQ(requeueFailures.load(), 0);
    const std::vector<BYTE> all = r.Joined();
    ASSERT_TRUE(std::equal(source.begin(), source.end(), all.begin()))
        << "captured data differs from the source";
    EXPECT_TRUE(std::all_of(all.begin() + static_cast<std::ptrdiff_t>(source.size()), all.end(),
                            [](BYTE b) { return b == 0; }))
        << "after its end the file source is silent";
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(VirtualDevice, ResetAndCloseFromInsideTheCallback) {
    Recorder r;
    HWAVEIN in = nullptr;
    std::atomic<MMRESULT> closeResult{MMSYSERR_NOERROR}, resetResult{MMSYSERR_ERROR};
    std::atomic<std::size_t> handedBackDuringReset{0};
    r.onData = [&](WAVEHDR*) {
        if (resetResult != MMSYSERR_ERROR) return;  // only the first callback acts
        resetResult = MMSYSERR_HANDLEBUSY;          // marks the nested callbacks
        resetResult = waveInReset(in);
        handedBackDuringReset = r.DataCount();
        closeResult = waveInClose(in);
    };
    in = OpenIn(r);
    Buffer b0(4096), b1(4096), b2(4096);
    Start(in, {&b0, &b1, &b2});
    Frames(1024);
    ASSERT_TRUE(r.WaitData(3));
    Settle();
    EXPECT_EQ(resetResult.load(), MMSYSERR_NOERROR);
    EXPECT_EQ(handedBackDuringReset.load(), 3u);
    EXPECT_EQ(closeResult.load(), MMSYSERR_HANDLEBUSY);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(VirtualDevice, PlaybackBufferIsDoneWhenHeardAndPausesLoseNothing) {
    const std::string sink = wavetest::ScratchPath("sink.wav");
    EnvVar s("TALREC_VIRTUAL_SINK", "file:" + sink);
    const std::vector<BYTE> sound = wavetest::Counting16(3 * 2048, 5);
    Recorder r;
    HWAVEOUT out = OpenOut(r);
    Buffer b0(4096), b1(4096), b2(4096);
    for (int i = 0; i < 3; ++i) {
        Buffer& b = i == 0 ? b0 : i == 1 ? b1 : b2;
        std::copy_n(sound.begin() + i * 4096, 4096, b.data.begin());
    }
    Play(out, {&b0, &b1, &b2});
    ExpectFirstBackAtFrame(r, 1024);
    Frames(500);
    Settle();
    ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
    MMTIME t{TIME_SAMPLES, {}};
    ASSERT_EQ(waveOutGetPosition(out, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.sample, 1524u);
    Frames(10000);
    Settle();
    EXPECT_EQ(r.DataCount(), 1u) << "played while paused";
    ASSERT_EQ(waveOutRestart(out), MMSYSERR_NOERROR);
    Begin();
    Frames(1548);
    ASSERT_TRUE(r.WaitData(3));
    const auto data = r.Data();
    EXPECT_EQ(data[0].hdr, &b0.hdr);
    EXPECT_EQ(data[1].hdr, &b1.hdr);
    EXPECT_EQ(data[2].hdr, &b2.hdr);
    ASSERT_EQ(waveOutGetPosition(out, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.sample, 3072u);
    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    WAVEFORMATEX f{};
    EXPECT_EQ(wavetest::ReadWavData(sink, &f), sound);
    EXPECT_EQ(f.nSamplesPerSec, 22050u);
    EXPECT_EQ(f.nChannels, 2);
}

TEST_F(VirtualDevice, PlaybackResetHandsBackAllAndEndsThePause) {
    const std::string sink = wavetest::ScratchPath("reset-sink.wav");
    EnvVar s("TALREC_VIRTUAL_SINK", "file:" + sink);
    Recorder r;
    HWAVEOUT out = OpenOut(r);
    Buffer b0(4096), b1(4096), b2(4096);
    Play(out, {&b0, &b1});
    Frames(100);
    Settle();
    ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(r.DataCount(), 2u);
    EXPECT_EQ(b0.Flags(), WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(b1.Flags(), WHDR_PREPARED | WHDR_DONE);
    MMTIME t{TIME_SAMPLES, {}};
    ASSERT_EQ(waveOutGetPosition(out, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.sample, 0u);
    // Not paused any more: a new buffer plays.
    wavetest::Write(out, {&b2});
    Settle();
    Begin();
    Frames(1024);
    ASSERT_TRUE(r.WaitData(3));
    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(wavetest::ReadWavData(sink).size(), (100u + 1024u) * 4);
}

TEST_F(VirtualDevice, EachOutputDeviceWritesItsSinkFileAnew) {
    const std::string sink = wavetest::ScratchPath("anew.wav");
    EnvVar s("TALREC_VIRTUAL_SINK", "file:" + sink);
    for (std::size_t bytes : {4096u, 400u}) {
        Recorder r;
        HWAVEOUT out = OpenOut(r, Pcm(1, 8000, 8));
        Buffer b(bytes);
        std::fill(b.data.begin(), b.data.end(), static_cast<BYTE>(bytes & 0xFF));
        Play(out, {&b});
        Frames(bytes, 8000);
        ASSERT_TRUE(r.WaitData(1));
        ASSERT_EQ(waveOutUnprepareHeader(out, &b.hdr, kHdr), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        EXPECT_EQ(wavetest::ReadWavData(sink), b.data);
    }
}

// What each device delivered until the loss is kept and said once on the debug output, for
// whoever opened the device.
TEST_F(VirtualDevice, ALostDeviceHandsBackItsBuffersAndRefusesMore) {
    wavetest::DebugLines debug;
    Recorder rin, rout;
    SetThreadDebugOwner(41);
    HWAVEIN in = OpenIn(rin);
    SetThreadDebugOwner(42);
    HWAVEOUT out = OpenOut(rout);
    SetThreadDebugOwner(0);
    Buffer i0(88200), i1(88200), o0(88200), o1(88200);  // 1 s each
    Start(in, {&i0, &i1});
    Play(out, {&o0, &o1});
    Frames(22050 + 11025);
    Settle();  // each device sleeps until its second buffer is due, half of it not yet moved
    talrec::wave::LoseVirtualDevices();
    Frames(1000);  // after the loss
    ASSERT_TRUE(rin.WaitData(2));
    ASSERT_TRUE(rout.WaitData(2));
    EXPECT_EQ(rin.Data()[0].bytes, 88200u);
    EXPECT_EQ(rin.Data()[1].bytes, 44100u) << "what was captured before the loss is kept";
    EXPECT_THAT(debug.Take(), ::testing::UnorderedElementsAre(
                                  "waveIn: virtual was lost after 1.5 s of sound of 41",
                                  "waveOut: virtual was lost after 1.5 s of sound of 42"));
    ASSERT_EQ(waveInUnprepareHeader(in, &i0.hdr, kHdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInPrepareHeader(in, &i0.hdr, kHdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInAddBuffer(in, &i0.hdr, kHdr), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInStart(in), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutWrite(out, &o0.hdr, kHdr), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    // A device opened afterwards works.
    Recorder r2;
    HWAVEIN again = OpenIn(r2);
    EXPECT_EQ(waveInStart(again), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(again), MMSYSERR_NOERROR);
}

// The source is found by its chunks whatever stands between them (an odd-sized chunk and its
// pad byte among them), and a data chunk that claims more than the file holds gives what the
// file holds, then silence.
TEST_F(VirtualDevice, AFileSourceIsFoundByItsChunksAndEndsWhereTheFileDoes) {
    const auto le32 = [](std::string& s, DWORD v) {
        for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
    };
    const WAVEFORMATEX f = Pcm(1, 8000, 16);
    std::string body = "WAVELIST";
    le32(body, 3);
    body += std::string("abc") + '\0' + "fmt ";
    le32(body, 16);
    body.append(reinterpret_cast<const char*>(&f), 16);
    body += "junk";
    le32(body, 2);
    body += "zzdata";
    le32(body, 1000);
    body += std::string("\x01\x00\x02\x00\x03\x00", 6);
    std::string file = "RIFF";
    le32(file, static_cast<DWORD>(body.size()));
    const std::string path = wavetest::ScratchPath("chunks.wav");
    std::ofstream(path, std::ios::binary) << file + body;
    EnvVar src("TALREC_VIRTUAL_SOURCE", "file:" + path);

    Recorder r;
    HWAVEIN in = OpenIn(r, f);
    Buffer b(16);
    Start(in, {&b});
    Frames(8, 8000);
    ASSERT_TRUE(r.WaitData(1));
    EXPECT_EQ(r.Joined(), (std::vector<BYTE>{1, 0, 2, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(VirtualDevice, SilenceIsEachWidthsZero) {
    EnvVar src("TALREC_VIRTUAL_SOURCE", "silence");
    for (WORD bits : {8, 16, 24}) {
        Recorder r;
        HWAVEIN in = OpenIn(r, Pcm(1, 8000, bits));
        Buffer b(bits / 8 * 64u);
        std::fill(b.data.begin(), b.data.end(), 0x55);
        Start(in, {&b});
        Frames(64, 8000);
        ASSERT_TRUE(r.WaitData(1));
        const BYTE zero = bits == 8 ? 0x80 : 0;
        for (BYTE v : r.Joined()) ASSERT_EQ(v, zero) << bits << " bits";
        ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    }
}

}  // namespace
