// Recordings through their spool: the bytes come back in order however fast they arrive, a
// spool that fills its disk or cannot be made leaves the recording in memory with one line
// said, and one held in memory that cannot be written is said to be lost.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "audio/WaveManager.h"
#include "platform/debugapi.h"
#include "platform/ext/hosthooks.h"
#include "platform/ext/spool.h"
#include "platform/ext/wavformat.h"
#include "support/TempDir.h"
#include "support/wave_test_util.h"
#include "wave_in_window.h"

using wavetest::EnvVar;
using wavetest::Pcm;
namespace fs = std::filesystem;
namespace sp = talrec::platform;

namespace {

// The lines OutputDebugStringA says while it is installed.
class DebugLines {
  public:
    DebugLines() { SetDebugOutputHook(&DebugLines::Hook, this); }
    ~DebugLines() { SetDebugOutputHook(nullptr, nullptr); }
    std::vector<std::string> Lines() {
        std::lock_guard l(mu_);
        return lines_;
    }

  private:
    static void Hook(const char* text, void* self) {
        auto* me = static_cast<DebugLines*>(self);
        std::lock_guard l(me->mu_);
        me->lines_.emplace_back(text);
    }
    std::mutex mu_;
    std::vector<std::string> lines_;
};

std::size_t SpoolCount() {
    return sp::RecordingSpool::Files().size();
}

class SpoolTest : public wavetest::ManualClockTest {
  protected:
    void SetUp() override {
        ManualClockTest::SetUp();
        const std::string counting = dir_ / "counting.wav";
        source_ = wavetest::Counting16(10 * 22050 * 2);
        wavetest::WriteWav(counting, Pcm(2, 22050, 16), source_);
        sourceEnv_ = std::make_unique<EnvVar>("TALREC_VIRTUAL_SOURCE", "file:" + counting);
        fs::create_directory(state_);
        fs::create_directory(out_);
    }

    // Records `frames` frames of the counting source into `path`.
    void Record(CWaveManager& m, const std::string& path, std::uint64_t frames) {
        ASSERT_TRUE(m.StartRecording(path));
        Begin();
        for (std::uint64_t done = 0; done < frames;) {
            const std::uint64_t step = std::min<std::uint64_t>(frames - done, 4410);
            Frames(step);
            done += step;
            Settle();
        }
    }

    std::vector<BYTE> Prefix(std::uint64_t frames) const {
        return std::vector<BYTE>(source_.begin(), source_.begin() + frames * 4);
    }

    talrec::test::TempDir dir_;
    std::vector<BYTE> source_;
    std::unique_ptr<EnvVar> sourceEnv_;
    const std::string state_ = dir_ / "state";
    const std::string out_ = dir_ / "out";
    EnvVar stateEnv_{"XDG_STATE_HOME", state_};
};

// Far more than the ring holds, appended at once: what is read back and what is written into
// a WAV file is every byte in order, whether it went through the ring or waited beside it.
TEST_F(SpoolTest, BytesComeBackInOrderHoweverFastTheyArrive) {
    auto spool = sp::RecordingSpool::Create(out_ + "/burst.wav", Pcm(2, 22050, 16));
    ASSERT_NE(spool, nullptr);
    // 8 MiB of 32-bit numbers counting up: no stretch of it repeats.
    std::vector<BYTE> data(8 << 20);
    for (std::size_t i = 0; i < data.size() / 4; ++i) {
        const auto v = static_cast<std::uint32_t>(i);
        std::memcpy(&data[4 * i], &v, 4);
    }
    // Appends of uneven sizes, so that they also straddle the blocks the overflow gathers in.
    const std::size_t sizes[] = {4096, 1000, 7004, 60000};
    for (std::size_t at = 0, k = 0; at < data.size(); ++k) {
        const std::size_t n = std::min(sizes[k % 4], data.size() - at);
        spool->Append(&data[at], n);
        at += n;
    }
    spool->Flush();
    EXPECT_EQ(spool->Length(), data.size());
    std::vector<BYTE> back(data.size());
    EXPECT_EQ(spool->Read(0, back.data(), back.size()), back.size());
    EXPECT_TRUE(back == data);
    const std::string wav = out_ + "/copy.wav";
    ASSERT_EQ(spool->WriteWav(wav, Pcm(2, 22050, 16), data.size()), ERROR_SUCCESS);
    EXPECT_TRUE(wavetest::ReadWavData(wav) == data);
    EXPECT_EQ(spool->WriteWav(wav, Pcm(2, 22050, 16), 0, sp::RecordingSpool::kWriteNew),
              ERROR_FILE_EXISTS);
    EXPECT_EQ(spool->WriteWav(out_ + "/none/x.wav", Pcm(2, 22050, 16), 0), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(SpoolCount(), 1u);
    spool.reset();
    EXPECT_EQ(SpoolCount(), 0u);
}

// A take of about a piece (1 MiB) gives the same file from memory, from its spool's WriteWav and
// read back from its spool; with the spool's file cut short, WriteWav fails and Save pads.
TEST_F(SpoolTest, TakesWriteTheSameFileFromMemoryAndFromTheirSpool) {
    const std::string path = out_ + "/take.wav";
    auto save = [&](CWave& wave) {
        CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        wave.Save(file);
        file.Close();
        return talrec::test::ReadFile(path);
    };
    for (const auto& [channels, frames] :
         {std::pair<WORD, DWORD>{1, 0}, {3, 1}, {1, 524288}, {3, 174762}, {3, 524289}}) {
        CWave take;
        take.SetFormat(channels, 22050, 16);
        std::string data(frames * channels * 2, '\0');
        std::generate(data.begin(), data.end(), std::minstd_rand(frames));
        const auto header = WavHeader(take.GetFormat(), static_cast<DWORD>(data.size()));
        std::string expected = std::string(header.begin(), header.end()) + data;
        WaveSpoolPtr spool = sp::RecordingSpool::Create(path, take.GetFormat());
        spool->Append(data.data(), data.size());
        spool->Flush();
        take.SetSpool(spool, frames);
        CWave memory = take;
        memory.GetBuffer();
        EXPECT_TRUE(save(memory) == expected && save(take) == expected) << frames;
        take.Save(path.c_str());
        EXPECT_TRUE(talrec::test::ReadFile(path) == expected && spool->GetInfo().saved) << frames;
        const std::string file = spool->GetInfo().file;
        fs::resize_file(file, fs::file_size(file) - data.size() / 2);
        EXPECT_EQ(spool->WriteWav(path, take.GetFormat(), data.size()),
                  frames == 0 ? ERROR_SUCCESS : ERROR_WRITE_FAULT);
        std::fill(expected.end() - static_cast<std::ptrdiff_t>(data.size() / 2), expected.end(), 0);
        EXPECT_TRUE(save(take) == expected) << frames;
    }
}

// The spool folder on a filesystem of 64 KiB: the recording (about 300 KB) outgrows it, goes
// on in memory, and the stop writes all of it; the failure is said once.
TEST_F(SpoolTest, ADiskThatFillsLeavesTheRestOfTheRecordingInMemory) {
    if (mount("tmpfs", state_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0700") != 0) {
        GTEST_SKIP() << "cannot mount a small filesystem here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{state_};

    DebugLines said;
    const std::string path = out_ + "/full.wav";
    {
        CWaveManager m;
        Record(m, path, 3 * 22050);
        EXPECT_EQ(SpoolCount(), 1u) << "the spool is on the small filesystem";
        ASSERT_TRUE(m.StopRecording());
        EXPECT_TRUE(wavetest::ReadWavData(path) == Prefix(3 * 22050));
        ASSERT_EQ(m.GetFormat().GetBufferLength(), 3u * 22050 * 4);
        EXPECT_EQ(std::memcmp(m.GetFormat().GetBuffer(), source_.data(), 3 * 22050 * 4), 0);
    }
    std::size_t lines = 0;
    for (const std::string& line : said.Lines()) {
        lines += line.find("recording spool") != std::string::npos;
    }
    EXPECT_EQ(lines, 1u);
    EXPECT_EQ(SpoolCount(), 0u);
}

// No spool folder can be made (its parent is a file): the recording is held in memory as
// before, and that is said once, not once per recording.
TEST_F(SpoolTest, WithoutASpoolFolderRecordingsStayInMemory) {
    talrec::test::WriteFile(dir_ / "not-a-folder");
    EnvVar state("XDG_STATE_HOME", dir_ / "not-a-folder/state");
    DebugLines said;
    CWaveManager m;
    for (const char* name : {"/a.wav", "/b.wav"}) {
        Record(m, out_ + name, 22050);
        ASSERT_TRUE(m.StopRecording());
        EXPECT_TRUE(wavetest::ReadWavData(out_ + name) == Prefix(22050)) << name;
    }
    ASSERT_EQ(said.Lines().size(), 1u);
    EXPECT_NE(said.Lines()[0].find("not-a-folder"), std::string::npos) << said.Lines()[0];
    // One that cannot be written then has nowhere to wait, and that is said.
    Record(m, dir_ / "missing/c.wav", 1000);
    EXPECT_THROW(m.StopRecording(), CFileException);
    ASSERT_EQ(said.Lines().size(), 2u);
    EXPECT_NE(said.Lines()[1].find("missing/c.wav is lost"), std::string::npos) << said.Lines()[1];
}

}  // namespace
