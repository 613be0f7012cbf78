// The recorder manager on the virtual device, stepped by a manual clock: what a recording
// with pauses leaves in its file, the failure paths of starting and stopping, every operation
// in every state, and destruction in the middle of a recording.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

#include "audio/WaveManager.h"
#include "support/TempDir.h"
#include "support/wave_test_util.h"
#include "wave_in_window.h"
#include "wave_manager_table.h"

using managertest::Op;
using wavetest::EnvVar;
using wavetest::Pcm;
namespace fs = std::filesystem;

namespace {

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
           a.nSamplesPerSec == b.nSamplesPerSec && a.nAvgBytesPerSec == b.nAvgBytesPerSec &&
           a.nBlockAlign == b.nBlockAlign && a.wBitsPerSample == b.wBitsPerSample;
}

// Checks that 16-bit samples count up from 0 (sample k holds k mod 65536): a prefix of the
// counting source with nothing dropped, repeated or put in between.
void ExpectCounting(const BYTE* data, std::size_t bytes) {
    for (std::size_t k = 0; k < bytes / 2; ++k) {
        std::uint16_t v;
        std::memcpy(&v, data + 2 * k, 2);
        ASSERT_EQ(v, static_cast<std::uint16_t>(k)) << "sample " << k;
    }
}

std::size_t FileCount(const std::string& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {}));
}

class ManagerTest : public wavetest::ManualClockTest {
  protected:
    void SetUp() override {
        ManualClockTest::SetUp();
        // 10 s of default-format sound whose samples count up.
        const std::string counting = dir_ / "counting.wav";
        wavetest::WriteWav(counting, Pcm(2, 22050, 16), wavetest::Counting16(10 * 22050 * 2));
        source_ = std::make_unique<EnvVar>("TALREC_VIRTUAL_SOURCE", "file:" + counting);
        wavetest::WriteWav(play_, Pcm(2, 22050, 16), wavetest::Counting16(22050));
        wavetest::WriteWav(narrow_, Pcm(1, 8000, 8), std::vector<BYTE>(16000, 0x40));
        fs::create_directory(out_);
    }

    talrec::test::TempDir dir_;
    std::unique_ptr<EnvVar> source_;
    const std::string play_ = dir_ / "play.wav";      // the default format
    const std::string narrow_ = dir_ / "narrow.wav";  // 1 channel, 8000 Hz, 8 bits
    const std::string out_ = dir_ / "out";            // where recordings go
};

TEST_F(ManagerTest, ANewManagerIsIdleAtSixteenBitStereo22050) {
    CWaveManager m;
    EXPECT_EQ(m.state, Idle);
    EXPECT_TRUE(SameFormat(m.GetFormat().GetFormat(), Pcm(2, 22050, 16)));
    EXPECT_EQ(m.GetFormat().GetFormat().nBlockAlign, 4);
    EXPECT_EQ(m.GetFormat().GetFormat().nAvgBytesPerSec, 88200u);
    EXPECT_EQ(m.GetFormat().GetNumSamples(), 0u);
}

// Several pauses of different lengths, resumed by each of the three ways: the file holds the
// frames captured while running, in order, and nothing for the paused time.
TEST_F(ManagerTest, PausedTimeLeavesNoTraceInTheFile) {
    wavetest::LevelWindow window;
    CWaveManager m;
    m.SetWindow(window.hwnd());
    const std::string path = out_ + "/take.wav";
    ASSERT_TRUE(m.StartRecording(path));
    Begin();
    Frames(1500);
    Settle();
    ASSERT_TRUE(m.TogglePauseRecording());
    EXPECT_EQ(m.state, RecordPaused);
    Frames(3000);  // paused: the clock runs, the source does not
    Settle();
    EXPECT_TRUE(m.StartRecording(out_ + "/other.wav"));  // resumes; the path stays
    EXPECT_EQ(m.state, Recording);
    EXPECT_EQ(m.GetRecordPath(), path);
    Begin();
    Frames(2055);
    Settle();
    ASSERT_TRUE(m.TogglePauseRecording());
    Frames(40000);
    ASSERT_TRUE(m.ResumeRecording());
    Begin();
    Frames(10);
    Settle();
    ASSERT_TRUE(m.TogglePauseRecording());
    ASSERT_TRUE(m.TogglePauseRecording());
    Begin();
    Frames(5000);
    Settle();
    ASSERT_TRUE(m.StopRecording());
    EXPECT_EQ(m.state, Idle);

    EXPECT_EQ(FileCount(out_), 1u);
    WAVEFORMATEX f{};
    const std::vector<BYTE> data = wavetest::ReadWavData(path, &f);
    EXPECT_TRUE(SameFormat(f, Pcm(2, 22050, 16)));
    EXPECT_EQ(data.size(), (1500u + 2055 + 10 + 5000) * 4);
    ExpectCounting(data.data(), data.size());
    // The manager keeps the recording as its sound.
    ASSERT_EQ(m.GetFormat().GetBufferLength(), data.size());
    EXPECT_EQ(std::memcmp(m.GetFormat().GetBuffer(), data.data(), data.size()), 0);

    // The next recording takes a new path and holds only its own sound.
    const std::string second = out_ + "/second.wav";
    ASSERT_TRUE(m.StartRecording(second));
    Begin();
    Frames(700);
    ASSERT_TRUE(m.StopRecording());
    EXPECT_EQ(wavetest::ReadWavData(second).size(), 700u * 4);
}

// A playback leaves the loaded file's format behind: with a source that cannot give it, the
// start fails at the format test and the stop writes an empty recording in the capture
// engine's own format, which it has held since it was made.
TEST_F(ManagerTest, ARefusedInputFormatStillEndsInAnEmptyFile) {
    CWaveManager m;
    ASSERT_TRUE(m.StartPlayback(narrow_));
    ASSERT_TRUE(m.StopPlayback());
    const std::string path = out_ + "/refused.wav";
    EXPECT_FALSE(m.StartRecording(path));
    EXPECT_EQ(m.state, Recording);
    EXPECT_EQ(m.GetRecordPath(), path);
    EXPECT_FALSE(m.StartRecording(out_ + "/again.wav")) << "refused while Recording";
    EXPECT_EQ(m.GetRecordPath(), path);
    Begin();
    Frames(5000);
    ASSERT_TRUE(m.StopRecording());
    EXPECT_EQ(m.state, Idle);

    ASSERT_EQ(fs::file_size(path), 44u);
    WAVEFORMATEX f{};
    EXPECT_TRUE(wavetest::ReadWavData(path, &f).empty());
    EXPECT_TRUE(SameFormat(f, Pcm(1, 22050, 16)));
    EXPECT_TRUE(SameFormat(m.GetFormat().GetFormat(), Pcm(1, 22050, 16)));
    EXPECT_EQ(FileCount(out_), 1u);
}

TEST_F(ManagerTest, APlaybackSetsTheFormatOfTheNextRecording) {
    EnvVar silence("TALREC_VIRTUAL_SOURCE", "silence");
    CWaveManager m;
    ASSERT_TRUE(m.StartPlayback(narrow_));
    EXPECT_TRUE(SameFormat(m.GetFormat().GetFormat(), Pcm(1, 8000, 8)));
    ASSERT_TRUE(m.StopPlayback());
    const std::string path = out_ + "/narrow-take.wav";
    ASSERT_TRUE(m.StartRecording(path));
    Begin();
    Frames(1234, 8000);
    Settle();
    ASSERT_TRUE(m.StopRecording());
    WAVEFORMATEX f{};
    const std::vector<BYTE> data = wavetest::ReadWavData(path, &f);
    EXPECT_TRUE(SameFormat(f, Pcm(1, 8000, 8)));
    ASSERT_EQ(data.size(), 1234u);
    EXPECT_EQ(data, std::vector<BYTE>(1234, 0x80)) << "8-bit silence";
}

// A failing write raises the file error after the state is already Idle; the recording is
// still the manager's sound, and a later recording works as usual.
TEST_F(ManagerTest, AStopIntoAMissingFolderRaisesAndKeepsTheRecording) {
    CWaveManager m;
    const std::string path = dir_ / "no-such-folder/take.wav";
    ASSERT_TRUE(m.StartRecording(path));
    Begin();
    Frames(3000);
    Settle();
    ASSERT_TRUE(m.TogglePauseRecording());
    try {
        m.StopRecording();
        FAIL() << "no file error";
    } catch (const CFileException& e) {
        EXPECT_NE(e.m_cause, CFileException::none);
        EXPECT_EQ(e.m_strFileName, "take.wav");
    }
    EXPECT_EQ(m.state, Idle);
    EXPECT_FALSE(fs::exists(path));
    ASSERT_EQ(m.GetFormat().GetNumSamples(), 3000u);
    ExpectCounting(m.GetFormat().GetBuffer(), m.GetFormat().GetBufferLength());

    const std::string next = out_ + "/next.wav";
    ASSERT_TRUE(m.StartRecording(next));
    Begin();
    Frames(100);
    Settle();
    ASSERT_TRUE(m.StopRecording());
    EXPECT_EQ(wavetest::ReadWavData(next).size(), 400u);
}

// Every operation in every state. An accepted one leads to the state of the tables; a refused
// one changes nothing: not the state, the path, the sound or its format, nor any file. The
// playback path given is a file of another format, so a refused (or path-ignoring) start of
// playback that loaded it would show in the format.
TEST_F(ManagerTest, EveryOperationInEveryState) {
    for (LONG from = 0; from < 5; ++from) {
        for (int o = 0; o < managertest::kOpCount; ++o) {
            const Op op = static_cast<Op>(o);
            SCOPED_TRACE(std::string(managertest::kStateNames[from]) + " " +
                         managertest::kOpNames[op]);
            const std::string dir = out_ + "/" + std::to_string(from) + "-" + std::to_string(o);
            fs::create_directory(dir);
            CWaveManager m;
            const std::string path = dir + "/take.wav";
            if (from == Recording || from == RecordPaused) {
                ASSERT_TRUE(m.StartRecording(path));
            }
            if (from == Playing || from == PlayPaused) {
                ASSERT_TRUE(m.StartPlayback(play_));
            }
            Begin();
            Frames(100);
            Settle();
            if (from == RecordPaused) {
                ASSERT_TRUE(m.TogglePauseRecording());
            }
            if (from == PlayPaused) {
                ASSERT_TRUE(m.TogglePausePlayback());
            }
            ASSERT_EQ(m.state, from);

            const std::string pathBefore = m.GetRecordPath();
            const CWave soundBefore = m.GetFormat();
            managertest::Apply(m, op, dir + "/new.wav", narrow_);
            const int next = managertest::kNext[from][op];
            EXPECT_EQ(m.state, managertest::Expected(from, op));

            const bool saves = next == Idle && (from == Recording || from == RecordPaused);
            const bool startsRecording = from == Idle && next == Recording;
            const bool loads = from == Idle && next == Playing;
            EXPECT_EQ(FileCount(dir), saves ? 1u : 0u);
            if (saves) {
                EXPECT_EQ(wavetest::ReadWavData(path).size(), 400u);
            }
            EXPECT_EQ(m.GetRecordPath(), startsRecording ? dir + "/new.wav" : pathBefore);
            if (!saves) {
                EXPECT_TRUE(SameFormat(m.GetFormat().GetFormat(),
                                       loads ? Pcm(1, 8000, 8) : soundBefore.GetFormat()));
            }
            if (next == managertest::kRefused) {
                EXPECT_EQ(m.GetFormat().GetNumSamples(), soundBefore.GetNumSamples());
            }
        }
    }
}

// A device lost in the middle of a recording: the stop writes everything captured until the
// loss, and nothing after it.
TEST_F(ManagerTest, ADeviceLostWhileRecordingKeepsWhatCameBeforeTheLoss) {
    CWaveManager m;
    const std::string path = out_ + "/lost.wav";
    ASSERT_TRUE(m.StartRecording(path));
    Begin();
    Frames(5000);  // four buffers and part of the fifth
    Settle();
    talrec::wave::LoseVirtualDevices();
    Frames(3000);
    Settle();
    ASSERT_TRUE(m.StopRecording());
    const std::vector<BYTE> data = wavetest::ReadWavData(path);
    EXPECT_EQ(data.size(), 5000u * 4);
    ExpectCounting(data.data(), data.size());
}

TEST_F(ManagerTest, DestroyingAManagerDuringARecordingWritesNothing) {
    for (bool paused : {false, true}) {
        const std::string path = out_ + (paused ? "/paused.wav" : "/running.wav");
        {
            CWaveManager m;
            ASSERT_TRUE(m.StartRecording(path));
            Begin();
            Frames(2000);
            Settle();
            if (paused) {
                ASSERT_TRUE(m.TogglePauseRecording());
            }
        }
        EXPECT_FALSE(fs::exists(path));
    }
    // A new manager records as usual afterwards.
    CWaveManager m;
    const std::string path = out_ + "/after.wav";
    ASSERT_TRUE(m.StartRecording(path));
    Begin();
    Frames(10);
    Settle();
    ASSERT_TRUE(m.StopRecording());
    EXPECT_EQ(FileCount(out_), 1u);
}

}  // namespace

// The manager takes the capture engine's sound over by a move: the frames change owner
// untouched, the source is left empty and valid, and a sound moved onto itself stays whole.
TEST(WaveMove, TheStoreChangesOwnerAndTheSourceIsLeftEmpty) {
    CWave source;
    source.SetFormat(2, 22050, 16);
    auto* block = new BYTE[4000];
    for (int i = 0; i < 4000; ++i) block[i] = static_cast<BYTE>(i * 3);
    source.SetBuffer(block, 1000, false);

    CWave target;
    target = std::move(source);
    EXPECT_EQ(target.GetBuffer(), block) << "copied instead of moved";
    EXPECT_EQ(target.GetNumSamples(), 1000u);
    EXPECT_TRUE(SameFormat(target.GetFormat(), Pcm(2, 22050, 16)));
    EXPECT_EQ(source.GetBuffer(), nullptr);
    EXPECT_EQ(source.GetBufferLength(), 0u);

    CWave& alias = target;
    target = std::move(alias);
    EXPECT_EQ(target.GetBuffer(), block);
    CWave constructed(std::move(target));
    EXPECT_EQ(constructed.GetBuffer(), block);
    EXPECT_EQ(constructed.GetBuffer()[3999], static_cast<BYTE>(3999 * 3));
    // An emptied sound is an ordinary one again: it can be filled and copied.
    source = constructed;
    EXPECT_EQ(source.GetNumSamples(), 1000u);
    EXPECT_NE(source.GetBuffer(), block);
}
