// The media control service's commands and its device thread, over a wave output whose clock
// the test moves (mci_fake_wave), so that ends, pauses and positions are exact.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/mci.h"
#include "support/mci_media.h"
#include "support/wave_test_util.h"
#include "tests/platform/winmm/mci/mci_fake_wave.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRate = 22050;
constexpr int kFrameBytes = 4;  // 16-bit stereo

DWORD Status(MCIDEVICEID id, DWORD item, MCIERROR* rc = nullptr) {
    MCI_STATUS_PARMS p{};
    p.dwItem = item;
    const MCIERROR r =
        mciSendCommandA(id, MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&p));
    if (rc != nullptr) *rc = r;
    return static_cast<DWORD>(p.dwReturn);
}

DWORD Mode(MCIDEVICEID id) {
    return Status(id, MCI_STATUS_MODE);
}

DWORD OpenDevices() {
    DWORD count = 99;
    MCI_SYSINFO_PARMS p{};
    p.lpstrReturn = reinterpret_cast<LPSTR>(&count);
    p.dwRetSize = sizeof count;
    EXPECT_EQ(
        mciSendCommandA(MCI_ALL_DEVICE_ID, MCI_SYSINFO, MCI_SYSINFO_QUANTITY | MCI_SYSINFO_OPEN,
                        reinterpret_cast<DWORD_PTR>(&p)),
        0u);
    return count;
}

MCIERROR Send(MCIDEVICEID id, UINT msg, DWORD_PTR flags = 0) {
    MCI_PLAY_PARMS p{};
    return mciSendCommandA(id, msg, flags, reinterpret_cast<DWORD_PTR>(&p));
}

// Waits up to `limit` for the mode; false if it never came.
bool WaitForMode(MCIDEVICEID id, DWORD mode, std::chrono::milliseconds limit) {
    const auto start = Clock::now();
    while (Mode(id) != mode) {
        if (Clock::now() - start > limit) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Returns once the device thread has acted on every buffer the output handed back before the
// call: it takes them in before the next command, and checks for the end after each command.
void SyncWithDeviceThread(MCIDEVICEID id) {
    Status(id, MCI_STATUS_POSITION);
    Status(id, MCI_STATUS_POSITION);
}

class MciDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fakewave::Reset();
        song = dir.Path("count.wav");
        mcitest::WriteCountingWav(song, kRate, 2, kRate);  // one second
        pcm = mcitest::ReadWav(song).data;
    }
    void TearDown() override {
        mciSendCommandA(MCI_ALL_DEVICE_ID, MCI_CLOSE, 0, 0);
        EXPECT_FALSE(fakewave::AnyOpen());
    }

    MCIDEVICEID Open(const std::string& path, MCIERROR expect = 0) {
        MCI_OPEN_PARMS p{};
        p.lpstrDeviceType = "MPEGVideo";
        p.lpstrElementName = path.c_str();
        EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT,
                                  reinterpret_cast<DWORD_PTR>(&p)),
                  expect)
            << path;
        return p.wDeviceID;
    }

    mcitest::ScratchDir dir;
    std::string song;
    mcitest::Bytes pcm;
};

TEST_F(MciDeviceTest, PlaysTheWholeFileAndStopsWhenItsLastSampleHasBeenPlayed) {
    const MCIDEVICEID id = Open(song);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(Mode(id), MCI_MODE_STOP);
    EXPECT_EQ(Status(id, MCI_STATUS_LENGTH), 1000u);
    EXPECT_EQ(fakewave::OpenCount(), 0);  // the output is opened by playing, not by opening

    ASSERT_EQ(Send(id, MCI_PLAY, MCI_NOTIFY), 0u);
    EXPECT_EQ(Mode(id), MCI_MODE_PLAY);
    fakewave::Advance(kRate - 1);
    SyncWithDeviceThread(id);
    EXPECT_EQ(Mode(id), MCI_MODE_PLAY) << "one frame is still to be played";

    fakewave::Advance(1);
    ASSERT_TRUE(WaitForMode(id, MCI_MODE_STOP, std::chrono::milliseconds(5000)))
        << "does not stop after the last sample";
    EXPECT_EQ(fakewave::Captured(), pcm);
    EXPECT_FALSE(fakewave::AnyOpen()) << "the output is given back at the end";
    EXPECT_EQ(Status(id, MCI_STATUS_POSITION), 1000u);

    // At the end, playing again plays nothing; from the start it plays everything again.
    EXPECT_EQ(Send(id, MCI_PLAY), 0u);
    EXPECT_EQ(Mode(id), MCI_MODE_STOP);
    EXPECT_EQ(mciSendCommandA(id, MCI_SEEK, MCI_SEEK_TO_START, 0), 0u);
    EXPECT_EQ(Status(id, MCI_STATUS_POSITION), 0u);
    fakewave::Reset();
    EXPECT_EQ(Send(id, MCI_PLAY), 0u);
    fakewave::Advance(kRate);
    EXPECT_TRUE(WaitForMode(id, MCI_MODE_STOP, std::chrono::milliseconds(5000)));
    EXPECT_EQ(fakewave::Captured(), pcm);
}

TEST_F(MciDeviceTest, PauseHoldsHoweverLongAndPlayResumesAtTheNextSample) {
    const MCIDEVICEID id = Open(song);
    ASSERT_EQ(Send(id, MCI_PLAY, MCI_NOTIFY), 0u);
    std::size_t expected = 0;
    for (const int frames : {3001, 1, 7777}) {
        fakewave::Advance(static_cast<std::uint64_t>(frames));
        expected += static_cast<std::size_t>(frames) * kFrameBytes;
        ASSERT_EQ(Send(id, MCI_PAUSE, MCI_NOTIFY), 0u);
        EXPECT_EQ(Mode(id), MCI_MODE_PAUSE);
        EXPECT_EQ(Send(id, MCI_PAUSE, MCI_NOTIFY), 0u) << "pausing twice is harmless";
        fakewave::Advance(3600u * kRate);  // an hour of clock while paused
        EXPECT_EQ(Mode(id), MCI_MODE_PAUSE);
        EXPECT_EQ(fakewave::Captured().size(), expected);
        EXPECT_EQ(Status(id, MCI_STATUS_POSITION), expected / kFrameBytes * 1000 / kRate);
        ASSERT_EQ(Send(id, MCI_PLAY, MCI_NOTIFY), 0u);
        EXPECT_EQ(Mode(id), MCI_MODE_PLAY);
    }
    fakewave::Advance(kRate);
    WaitForMode(id, MCI_MODE_STOP, std::chrono::milliseconds(2000));
    EXPECT_EQ(Mode(id), MCI_MODE_STOP);
    EXPECT_EQ(fakewave::Captured(), pcm) << "a sample was lost or repeated";
}

TEST_F(MciDeviceTest, StopKeepsThePlayedPositionAndDropsWhatWasOnlyQueued) {
    const MCIDEVICEID id = Open(song);
    ASSERT_EQ(Send(id, MCI_PLAY), 0u);
    fakewave::Advance(5000);
    ASSERT_EQ(Send(id, MCI_STOP), 0u);
    EXPECT_EQ(Mode(id), MCI_MODE_STOP);
    EXPECT_FALSE(fakewave::AnyOpen());
    EXPECT_EQ(Status(id, MCI_STATUS_POSITION), 5000u * 1000 / kRate);
    ASSERT_EQ(Send(id, MCI_PLAY), 0u);
    fakewave::Advance(kRate);
    WaitForMode(id, MCI_MODE_STOP, std::chrono::milliseconds(2000));
    EXPECT_EQ(fakewave::Captured(), pcm);
}

mcitest::Bytes Frames(const mcitest::Bytes& pcm, std::size_t from, std::size_t to) {
    return mcitest::Bytes(pcm.begin() + static_cast<std::ptrdiff_t>(from * kFrameBytes),
                          pcm.begin() + static_cast<std::ptrdiff_t>(to * kFrameBytes));
}

TEST_F(MciDeviceTest, PlaysARangeAndSeeks) {
    const MCIDEVICEID id = Open(song);
    MCI_PLAY_PARMS range{0, 200, 300};
    ASSERT_EQ(mciSendCommandA(id, MCI_PLAY, MCI_FROM | MCI_TO, reinterpret_cast<DWORD_PTR>(&range)),
              0u);
    fakewave::Advance(kRate);
    WaitForMode(id, MCI_MODE_STOP, std::chrono::milliseconds(2000));
    EXPECT_EQ(fakewave::Captured(), Frames(pcm, kRate / 5, kRate * 3 / 10));

    fakewave::Reset();
    MCI_SEEK_PARMS to{0, 500};
    ASSERT_EQ(mciSendCommandA(id, MCI_SEEK, MCI_TO, reinterpret_cast<DWORD_PTR>(&to)), 0u);
    EXPECT_EQ(Status(id, MCI_STATUS_POSITION), 500u);
    ASSERT_EQ(Send(id, MCI_PLAY), 0u);
    fakewave::Advance(kRate);
    WaitForMode(id, MCI_MODE_STOP, std::chrono::milliseconds(2000));
    EXPECT_EQ(fakewave::Captured(), Frames(pcm, kRate / 2, kRate));

    fakewave::Reset();
    ASSERT_EQ(mciSendCommandA(id, MCI_SEEK, MCI_SEEK_TO_END, 0), 0u);
    EXPECT_EQ(Status(id, MCI_STATUS_POSITION), 1000u);
    ASSERT_EQ(Send(id, MCI_PLAY), 0u);
    EXPECT_EQ(Mode(id), MCI_MODE_STOP);
    EXPECT_EQ(fakewave::OpenCount(), 0);

    EXPECT_EQ(mciSendCommandA(id, MCI_SEEK, MCI_SEEK_TO_START | MCI_SEEK_TO_END, 0),
              MCIERR_FLAGS_NOT_COMPATIBLE);
    EXPECT_EQ(mciSendCommandA(id, MCI_SEEK, 0, 0), MCIERR_MISSING_PARAMETER);
    to.dwTo = 1001;
    EXPECT_EQ(mciSendCommandA(id, MCI_SEEK, MCI_TO, reinterpret_cast<DWORD_PTR>(&to)),
              MCIERR_OUTOFRANGE);
    range = {0, 600, 100};
    EXPECT_EQ(mciSendCommandA(id, MCI_PLAY, MCI_FROM | MCI_TO, reinterpret_cast<DWORD_PTR>(&range)),
              MCIERR_OUTOFRANGE);
}

TEST_F(MciDeviceTest, PlayWithWaitReturnsOnceTheSoundHasEnded) {
    const MCIDEVICEID id = Open(song);
    std::thread clock([id] {
        WaitForMode(id, MCI_MODE_PLAY, std::chrono::milliseconds(5000));
        fakewave::Advance(kRate);
    });
    EXPECT_EQ(Send(id, MCI_PLAY, MCI_WAIT), 0u);
    EXPECT_EQ(Mode(id), MCI_MODE_STOP);
    clock.join();
    EXPECT_EQ(fakewave::Captured(), pcm);
}

TEST_F(MciDeviceTest, ClosingWhilePlayingOrPausedEndsAtOnceAndForgetsTheDevice) {
    const MCIDEVICEID a = Open(song);
    const MCIDEVICEID b = Open(song);
    EXPECT_NE(a, b);
    EXPECT_EQ(OpenDevices(), 2u);
    ASSERT_EQ(Send(a, MCI_PLAY), 0u);
    ASSERT_EQ(Send(b, MCI_PLAY), 0u);
    fakewave::Advance(1000);
    ASSERT_EQ(Send(b, MCI_PAUSE), 0u);
    EXPECT_EQ(mciSendCommandA(a, MCI_CLOSE, 0, 0), 0u);
    EXPECT_EQ(mciSendCommandA(b, MCI_CLOSE, 0, 0), 0u);
    EXPECT_FALSE(fakewave::AnyOpen());
    EXPECT_EQ(OpenDevices(), 0u);

    for (const MCIDEVICEID gone : {a, b, 0u, 12345u}) {
        MCIERROR rc = 0;
        Status(gone, MCI_STATUS_MODE, &rc);
        EXPECT_EQ(rc, MCIERR_INVALID_DEVICE_ID);
        EXPECT_EQ(Send(gone, MCI_PLAY, MCI_NOTIFY), MCIERR_INVALID_DEVICE_ID);
        EXPECT_EQ(Send(gone, MCI_PAUSE, MCI_NOTIFY), MCIERR_INVALID_DEVICE_ID);
        EXPECT_EQ(mciSendCommandA(gone, MCI_SEEK, MCI_SEEK_TO_START, 0), MCIERR_INVALID_DEVICE_ID);
        EXPECT_EQ(mciSendCommandA(gone, MCI_CLOSE, 0, 0), MCIERR_INVALID_DEVICE_ID);
    }
    const MCIDEVICEID c = Open(song);
    EXPECT_NE(c, a);
    EXPECT_NE(c, b);
}

TEST_F(MciDeviceTest, OpenRefusalsLeaveTheCallersIdentifierAlone) {
    const std::string text = "just words\n";
    mcitest::WriteAll(dir.Path("words.txt"), mcitest::Bytes(text.begin(), text.end()));
    mcitest::WriteAll(dir.Path("empty.wma"), {});
    struct Case {
        DWORD flags;
        const char* type;
        std::string element;
        MCIERROR rc;
    };
    const Case cases[] = {
        {MCI_OPEN_TYPE | MCI_OPEN_ELEMENT, "MPEGVideo", dir.Path("missing.mp3"),
         MCIERR_FILE_NOT_FOUND},
        {MCI_OPEN_TYPE | MCI_OPEN_ELEMENT, "MPEGVideo", dir.Path("words.txt"), MCIERR_INVALID_FILE},
        {MCI_OPEN_TYPE | MCI_OPEN_ELEMENT, "mpegvideo", dir.Path("empty.wma"), MCIERR_INVALID_FILE},
        {MCI_OPEN_TYPE | MCI_OPEN_ELEMENT, "waveaudio", song, MCIERR_INVALID_DEVICE_NAME},
        {MCI_OPEN_TYPE | MCI_OPEN_ELEMENT, "MPEGVideo", "", MCIERR_FILENAME_REQUIRED},
        {MCI_OPEN_TYPE, "MPEGVideo", song, MCIERR_FILENAME_REQUIRED},
    };
    wavetest::DebugLines debug;
    for (const Case& c : cases) {
        MCI_OPEN_PARMS p{};
        p.wDeviceID = 77;
        p.lpstrDeviceType = c.type;
        p.lpstrElementName = c.element.c_str();
        EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, c.flags, reinterpret_cast<DWORD_PTR>(&p)), c.rc)
            << c.element;
        EXPECT_EQ(p.wDeviceID, 77u);
    }
    EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, MCI_OPEN_ELEMENT, 0), MCIERR_NULL_PARAMETER_BLOCK);
    EXPECT_EQ(OpenDevices(), 0u);
    // The files that do not play are named on the debug output, with FFmpeg's words when it
    // read them; the caller's own mistakes are not.
    const std::string prefix = "MCI_OPEN: cannot play ";
    EXPECT_THAT(debug.Take(),
                ::testing::ElementsAre(
                    ::testing::StartsWith(prefix + dir.Path("missing.mp3") + " ("),
                    prefix + dir.Path("words.txt") + " (Invalid data found when processing input)",
                    ::testing::StartsWith(prefix + dir.Path("empty.wma") + " (")));

    // With no type, or a null one, the file decides.
    MCI_OPEN_PARMS p{};
    p.lpstrElementName = song.c_str();
    EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT,
                              reinterpret_cast<DWORD_PTR>(&p)),
              0u);
    EXPECT_EQ(Status(p.wDeviceID, MCI_STATUS_LENGTH), 1000u);
}

TEST_F(MciDeviceTest, RecordingAndSavingAreRefusedAndEveryCodeHasAText) {
    const MCIDEVICEID id = Open(song);
    MCI_RECORD_PARMS record{0, 0, 1000};
    EXPECT_EQ(
        mciSendCommandA(id, MCI_RECORD, MCI_TO | MCI_WAIT, reinterpret_cast<DWORD_PTR>(&record)),
        MCIERR_UNSUPPORTED_FUNCTION);
    MCI_SAVE_PARMS save{0, "out.wav"};
    EXPECT_EQ(
        mciSendCommandA(id, MCI_SAVE, MCI_SAVE_FILE | MCI_WAIT, reinterpret_cast<DWORD_PTR>(&save)),
        MCIERR_UNSUPPORTED_FUNCTION);
    EXPECT_EQ(Mode(id), MCI_MODE_STOP);
    EXPECT_EQ(mciSendCommandA(id, 0x0999, 0, 0), MCIERR_UNRECOGNIZED_COMMAND);
    MCIERROR rc = 0;
    Status(id, 0x4242, &rc);
    EXPECT_EQ(rc, MCIERR_UNSUPPORTED_FUNCTION);
    EXPECT_EQ(mciSendCommandA(id, MCI_STATUS, MCI_STATUS_ITEM, 0), MCIERR_NULL_PARAMETER_BLOCK);

    for (MCIERROR code = MCIERR_BASE; code < MCIERR_BASE + 100; ++code) {
        char text[128] = "x";
        const BOOL known = mciGetErrorStringA(code, text, sizeof text);
        EXPECT_EQ(known != FALSE, text[0] != '\0') << code;
    }
    for (const MCIERROR code :
         {MCIERR_INVALID_DEVICE_ID, MCIERR_FILE_NOT_FOUND, MCIERR_INVALID_FILE,
          MCIERR_UNSUPPORTED_FUNCTION, MCIERR_UNRECOGNIZED_COMMAND, MCIERR_INVALID_DEVICE_NAME,
          MCIERR_FILENAME_REQUIRED, MCIERR_NULL_PARAMETER_BLOCK, MCIERR_MISSING_PARAMETER,
          MCIERR_FLAGS_NOT_COMPATIBLE, MCIERR_OUTOFRANGE, MCIERR_WAVE_OUTPUTSINUSE,
          MCIERR_WAVE_OUTPUTSUNSUITABLE, MCIERR_HARDWARE, MCIERR_OUT_OF_MEMORY, MCIERR_INTERNAL}) {
        char text[128] = "";
        EXPECT_TRUE(mciGetErrorStringA(code, text, sizeof text)) << code;
        EXPECT_GT(std::strlen(text), 10u) << code;
    }
    char small[8];
    EXPECT_TRUE(mciGetErrorStringA(MCIERR_INVALID_FILE, small, sizeof small));
    EXPECT_EQ(std::strlen(small), 7u);
    EXPECT_FALSE(mciGetErrorStringA(0, small, sizeof small));
}

TEST_F(MciDeviceTest, AnOutputThatTakesOnly16BitsGetsThe8BitFileConverted) {
    fakewave::AcceptOnly16Bit(true);
    const std::string eight = dir.Path("eight.wav");
    ASSERT_TRUE(mcitest::Run("sox -n -r 11025 -c 1 -b 8 -e unsigned-integer '" + eight +
                             "' synth 0.5 sine 440"));
    const MCIDEVICEID id = Open(eight);
    ASSERT_EQ(Send(id, MCI_PLAY), 0u);
    fakewave::Advance(11025);
    WaitForMode(id, MCI_MODE_STOP, std::chrono::milliseconds(2000));
    EXPECT_EQ(fakewave::LastBits(), 16);
    EXPECT_EQ(fakewave::LastChannels(), 1);
    EXPECT_EQ(fakewave::LastRate(), 11025);
    EXPECT_EQ(fakewave::Captured(), mcitest::FfmpegDecode(eight, 11025, 1));
}

TEST_F(MciDeviceTest, AFailingOutputEndsPlayingInsteadOfHangingInPlay) {
    fakewave::RefuseOpen(true);
    const MCIDEVICEID id = Open(song);
    EXPECT_EQ(Send(id, MCI_PLAY), MCIERR_WAVE_OUTPUTSINUSE);
    EXPECT_EQ(Mode(id), MCI_MODE_STOP);

    fakewave::RefuseOpen(false);
    fakewave::FailWritesAfter(2);
    ASSERT_EQ(Send(id, MCI_PLAY), 0u);
    fakewave::Advance(kRate);
    EXPECT_TRUE(WaitForMode(id, MCI_MODE_STOP, std::chrono::milliseconds(5000)));
    EXPECT_FALSE(fakewave::AnyOpen());
}

}  // namespace
