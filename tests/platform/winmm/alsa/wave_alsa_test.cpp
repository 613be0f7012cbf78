// The ALSA device, through ALSA plug-in PCMs that this test defines: a file plug-in reading
// an input file for capture, one writing an output file for playback, and a plug PCM that
// cannot convert rates. No sound hardware is needed.
#include "platform/winmm/alsa/wave_alsa.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/ext/wavedevices.h"
#include "platform/mci.h"
#include "platform/mmwave.h"
#include "support/wave_test_util.h"

using namespace std::chrono_literals;
using wavetest::Buffer;
using wavetest::EnvVar;
using wavetest::kHdr;
using wavetest::Pcm;
using wavetest::Recorder;

namespace {

std::string Dir() {
    return std::filesystem::path(wavetest::ScratchPath("alsa")).string();
}
std::string InFile() {
    return Dir() + "-in.raw";
}
std::string OutFile() {
    return Dir() + "-out.raw";
}

// alsa-lib reads its configuration once per process, so the PCMs are defined before any
// test runs.
const bool kConfigured = [] {
    const std::string conf = Dir() + ".conf";
    std::ofstream(conf) << "pcm.talrec_cap {\n"
                           "  type file\n"
                           "  slave.pcm { type null }\n"
                           "  file \"/dev/null\"\n"
                           "  infile \""
                        << InFile()
                        << "\"\n"
                           "  format \"raw\"\n"
                           "}\n"
                           "pcm.talrec_play {\n"
                           "  type file\n"
                           "  slave.pcm { type null }\n"
                           "  file \""
                        << OutFile()
                        << "\"\n"
                           "  format \"raw\"\n"
                           "}\n"
                           "pcm.talrec_only48 {\n"
                           "  type plug\n"
                           "  slave { pcm { type null } rate 48000 format S16_LE channels 2 }\n"
                           "  rate_converter \"talrec_no_converter\"\n"
                           "}\n";
    std::string path = conf;
    if (std::filesystem::exists("/usr/share/alsa/alsa.conf"))
        path = "/usr/share/alsa/alsa.conf:" + conf;
    setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    return true;
}();

std::vector<BYTE> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
}

class AlsaDevice : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(kConfigured); }

    // Opens the capture device for `r`, whose callback queues each buffer again while
    // requeue_ holds, and starts it with `buffers`.
    void StartRequeuing(Recorder& r, std::initializer_list<Buffer*> buffers) {
        r.onData = [this](WAVEHDR* h) {
            if (!requeue_) return;
            waveInUnprepareHeader(in_, h, kHdr);
            waveInPrepareHeader(in_, h, kHdr);
            waveInAddBuffer(in_, h, kHdr);
        };
        ASSERT_EQ(waveInOpen(&in_, WAVE_MAPPER, &fmt_, r.InProc(), r.Instance(), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        wavetest::Queue(in_, buffers);
        ASSERT_EQ(waveInStart(in_), MMSYSERR_NOERROR);
    }

    const WAVEFORMATEX fmt_ = Pcm(2, 22050, 16);
    HWAVEIN in_ = nullptr;
    std::atomic<bool> requeue_{true};
};

TEST_F(AlsaDevice, CapturedBytesEqualTheInputFile) {
    // Not a whole number of buffers: the last one comes back part-filled at the reset.
    const std::vector<BYTE> input = wavetest::Counting16(2 * 25000 + 2 * 333, 3);
    std::ofstream(InFile(), std::ios::binary)
        .write(reinterpret_cast<const char*>(input.data()),
               static_cast<std::streamsize>(input.size()));
    EnvVar dev("TALREC_WAVE_DEVICE", "alsa:talrec_cap");
    Recorder r;
    Buffer b0(4096), b1(4096);
    ASSERT_NO_FATAL_FAILURE(StartRequeuing(r, {&b0, &b1}));
    const HWAVEIN in = in_;
    MMTIME t{TIME_BYTES, {}};
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(waveInGetPosition(in, &t, sizeof t), MMSYSERR_NOERROR);
        if (t.u.cb >= input.size()) break;
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_GE(t.u.cb, input.size());
    DWORD xruns = 99;
    ASSERT_EQ(waveInGetXruns(in, &xruns), MMSYSERR_NOERROR);
    EXPECT_EQ(xruns, 0u) << "the null PCM never runs over";
    EXPECT_EQ(waveInGetXruns(in, nullptr), MMSYSERR_INVALPARAM);
    requeue_ = false;
    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    // After the file the plug-in goes on with whatever its null slave leaves in the buffer.
    const std::vector<BYTE> all = r.Joined();
    ASSERT_GE(all.size(), input.size());
    EXPECT_TRUE(std::equal(input.begin(), input.end(), all.begin()));
}

// Frames captured so far, or -1 when the device is lost.
long long CapturedFrames(HWAVEIN in) {
    MMTIME t{TIME_SAMPLES, {}};
    return waveInGetPosition(in, &t, sizeof t) == MMSYSERR_NOERROR ? t.u.sample : -1;
}

template <class F>
bool WaitFor(F done, std::chrono::milliseconds limit = 10s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A PCM that the system suspends: the device is prepared again and captures on once the
// suspend ends; one that never resumes holds a reset and a close up for no more than about a
// second (the bound here leaves room for a loaded machine).
TEST_F(AlsaDevice, ASuspendIsRecoveredAndOneThatNeverEndsHoldsNothingUp) {
    std::ofstream(InFile(), std::ios::binary) << std::string(400000, '\x11');
    EnvVar dev("TALREC_WAVE_DEVICE", "alsa:talrec_cap");
    Recorder r;
    Buffer b0(4096), b1(4096);
    // Whatever fails below, the device is closed before the buffers and the recorder go.
    const std::shared_ptr<void> closer(nullptr, [&](void*) {
        talrec::wave::SimulateAlsaSuspend(false);
        requeue_ = false;
        waveInReset(in_);
        waveInClose(in_);
    });
    ASSERT_NO_FATAL_FAILURE(StartRequeuing(r, {&b0, &b1}));
    const HWAVEIN in = in_;
    ASSERT_TRUE(WaitFor([&] { return CapturedFrames(in) > 0; }));

    talrec::wave::SimulateAlsaSuspend(true);
    ASSERT_TRUE(WaitFor([] { return talrec::wave::SimulatedResumeRefusals() > 0; }));
    talrec::wave::SimulateAlsaSuspend(false);
    const long long before = CapturedFrames(in);
    ASSERT_GE(before, 0) << "lost at the suspend";
    EXPECT_TRUE(WaitFor([&] { return CapturedFrames(in) > before + 2048; }))
        << "does not capture after the suspend";

    talrec::wave::SimulateAlsaSuspend(true);
    ASSERT_TRUE(WaitFor([] { return talrec::wave::SimulatedResumeRefusals() > 0; }));
    requeue_ = false;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 1500ms) << "reset and close waited for the suspend to end";
}

TEST_F(AlsaDevice, PlayedBytesEqualTheSound) {
    const std::vector<BYTE> sound = wavetest::Counting16(2 * 4096 + 904, 9);  // 2 x 4096 + 1808
    std::filesystem::remove(OutFile());
    EnvVar dev("TALREC_WAVE_DEVICE", "alsa:talrec_play");
    Recorder r;
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &fmt_, r.OutProc(), r.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    std::vector<std::unique_ptr<Buffer>> bufs;
    for (std::size_t at = 0; at < sound.size(); at += 4096) {
        const std::size_t n = std::min<std::size_t>(4096, sound.size() - at);
        bufs.push_back(std::make_unique<Buffer>(n));
        std::copy_n(sound.begin() + static_cast<std::ptrdiff_t>(at), n, bufs.back()->data.begin());
        ASSERT_EQ(waveOutPrepareHeader(out, &bufs.back()->hdr, kHdr), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(out, &bufs.back()->hdr, kHdr), MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(r.WaitData(bufs.size()));
    const auto data = r.Data();
    for (std::size_t i = 0; i < bufs.size(); ++i) EXPECT_EQ(data[i].hdr, &bufs[i]->hdr);
    MMTIME t{TIME_BYTES, {}};
    ASSERT_EQ(waveOutGetPosition(out, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.cb, sound.size());
    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(ReadFile(OutFile()), sound);
}

TEST_F(AlsaDevice, AFormatTheDeviceWouldRunOtherwiseIsRefused) {
    EnvVar dev("TALREC_WAVE_DEVICE", "alsa:talrec_only48");
    const WAVEFORMATEX at48 = Pcm(2, 48000, 16);
    for (int i = 0; i < 2; ++i) {  // the same answer each time
        EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &fmt_, 0, 0, WAVE_FORMAT_QUERY),
                  WAVERR_BADFORMAT);
        EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &at48, 0, 0, WAVE_FORMAT_QUERY),
                  MMSYSERR_NOERROR);
        EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &fmt_, 0, 0, WAVE_FORMAT_QUERY),
                  WAVERR_BADFORMAT);
    }
    HWAVEOUT out = nullptr;
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &fmt_, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &at48, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    WAVEOUTCAPSA caps;
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "ALSA talrec_only48");
    EXPECT_EQ(caps.dwFormats, 0u) << "none of the standard rates is 48000";
}

TEST_F(AlsaDevice, AQueryHoldsNothingOpenAndAnUnknownPcmIsNoDriver) {
    std::filesystem::remove(OutFile());
    EnvVar dev("TALREC_WAVE_DEVICE", "alsa:talrec_play");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &fmt_, 0, 0, WAVE_FORMAT_QUERY),
                  MMSYSERR_NOERROR);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &fmt_, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);

    EnvVar gone("TALREC_WAVE_DEVICE", "alsa:talrec_no_such_pcm");
    wavetest::DebugLines debug;
    EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &fmt_, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NODRIVER);
    HWAVEIN in = nullptr;
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &fmt_, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
    // alsa-lib's text for an errno is the C library's.
    const std::string line = std::string("waveInOpen: alsa:talrec_no_such_pcm does not open (") +
                             std::strerror(ENOENT) + ")";
    EXPECT_THAT(debug.Take(), ::testing::ElementsAre(line, line));
}

// The device names the format it refuses; the media player's search for a format the device
// takes says nothing, although the first formats it asks for are refused.
TEST_F(AlsaDevice, ARefusedFormatIsNamedOnTheDebugOutputAndProbesAreQuiet) {
    EnvVar dev("TALREC_WAVE_DEVICE", "alsa:talrec_only48");
    wavetest::DebugLines debug;
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &fmt_, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    EXPECT_THAT(debug.Take(), ::testing::ElementsAre("waveOutOpen: alsa:talrec_only48 refuses the "
                                                     "format 2 channels, 22050 Hz, 16 bits"));

    const std::string song = Dir() + "-song.wav";
    wavetest::WriteWav(song, fmt_, wavetest::Counting16(22050));
    MCI_OPEN_PARMSA open{};
    open.lpstrDeviceType = "MPEGVideo";
    open.lpstrElementName = song.c_str();
    ASSERT_EQ(mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT,
                              reinterpret_cast<DWORD_PTR>(&open)),
              0u);
    EXPECT_EQ(mciSendCommandA(open.wDeviceID, MCI_CLOSE, 0, 0), 0u);
    WAVEOUTCAPSA caps;
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_THAT(debug.Take(), ::testing::IsEmpty());
}

}  // namespace
