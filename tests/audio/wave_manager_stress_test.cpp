// Random sequences of the manager's operations with short random pauses between them, on the
// virtual device running many times faster than real time: after every step the state is the
// one the tables give, each file written is a whole WAV file of the manager's sound, and the
// file errors come only where a path is bad. Meant to run under the sanitizers as well.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

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

// TALREC_STRESS_SEQUENCES may ask for fewer (or more) sequences, as a slow build needs.
int Sequences() {
    const char* v = std::getenv("TALREC_STRESS_SEQUENCES");
    return v && std::atoi(v) > 0 ? std::atoi(v) : 1000;
}

TEST(WaveManagerStress, RandomSequencesFollowTheTables) {
    EnvVar source("TALREC_VIRTUAL_SOURCE", "tone:440:0.5");
    EnvVar speed("TALREC_VIRTUAL_SPEED", "100");
    talrec::test::TempDir dir;
    EnvVar state("XDG_STATE_HOME", dir / "state");  // the recordings not written wait there
    const std::string wide = dir / "wide.wav", narrow = dir / "narrow.wav";
    const std::string bad = dir / "bad.wav";
    wavetest::WriteWav(wide, Pcm(2, 22050, 16), wavetest::Counting16(4410));
    wavetest::WriteWav(narrow, Pcm(1, 8000, 8), std::vector<BYTE>(800, 0x90));
    talrec::test::WriteFile(bad, "not a sound file at all, but long enough to read past 44 bytes");
    const std::string missing = dir / "missing/take.wav";

    wavetest::LevelWindow window;
    std::mt19937 rng(20261208);
    const int sequences = Sequences();
    int saved = 0, fileErrors = 0, accepted = 0;
    for (int s = 0; s < sequences; ++s) {
        auto m = std::make_unique<CWaveManager>();
        m->SetWindow(window.hwnd());
        const int steps = 4 + static_cast<int>(rng() % 13);
        for (int k = 0; k < steps; ++k) {
            const Op op = static_cast<Op>(rng() % managertest::kOpCount);
            const std::string record =
                rng() % 10 == 0 ? missing : dir / ("take" + std::to_string(s % 4) + ".wav");
            const unsigned pick = rng() % 10;
            const std::string play = pick == 0 ? bad : pick < 5 ? narrow : wide;
            const LONG before = m->state;
            const LONG expected = managertest::Expected(before, op);
            SCOPED_TRACE("sequence " + std::to_string(s) + " step " + std::to_string(k) + ": " +
                         managertest::kOpNames[op] + " in " + managertest::kStateNames[before]);
            const bool saves = op == managertest::kStopRecording && expected != before;
            const bool loads = op == managertest::kStartPlayback && before == Idle;
            const std::string savedTo = m->GetRecordPath();
            accepted += managertest::kNext[before][op] != managertest::kRefused;

            bool raised = false;
            try {
                managertest::Apply(*m, op, record, play);
            } catch (const CFileException&) {
                raised = true;
            }
            ASSERT_EQ(m->state, expected);
            ASSERT_EQ(raised, (saves && savedTo == missing) || (loads && play == bad));
            fileErrors += raised;
            if (saves && !raised) {
                WAVEFORMATEX f{};
                const std::vector<BYTE> data = wavetest::ReadWavData(savedTo, &f);
                const WAVEFORMATEX want = m->GetFormat().GetFormat();
                ASSERT_EQ(f.nChannels, want.nChannels);
                ASSERT_EQ(f.nSamplesPerSec, want.nSamplesPerSec);
                ASSERT_EQ(f.wBitsPerSample, want.wBitsPerSample);
                ASSERT_EQ(data.size(), m->GetFormat().GetBufferLength());
                fs::remove(savedTo);
                ++saved;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
        }
        // Destroyed in whatever state the sequence ended: a running recording is not written.
        const std::string pending = m->GetRecordPath();
        const bool recording = m->state == Recording || m->state == RecordPaused;
        m.reset();
        if (recording) {
            ASSERT_FALSE(fs::exists(pending)) << "sequence " << s;
        }
    }
    std::printf("%d sequences, %d accepted operations, %d files written, %d file errors\n",
                sequences, accepted, saved, fileErrors);
    EXPECT_GT(saved, sequences / 10) << "too few recordings reached their stop";
}

}  // namespace
