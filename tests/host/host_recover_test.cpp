// Recordings that survive their recorder: `talrec host` killed while it records, pauses or has
// just resumed leaves a spool that `talrec recover` turns into the recording's WAV file; and
// where recover writes, what it lists and what it leaves alone.
#include <algorithm>
#include <filesystem>

#include "host/HostFixture.h"
#include "platform/ext/spool.h"

using namespace talrec::test;
using namespace std::chrono_literals;
using nlohmann::json;
namespace sp = talrec::platform;

namespace {

struct Output {
    int status = -1;
    std::string text;  // standard output
};

// Runs `talrec ARGS` to its end with the test's environment and collects its standard output.
Output Talrec(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        std::string program = BinDir() + "/talrec";
        std::vector<char*> argv{program.data()};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    Output result;
    char chunk[4096];
    for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) result.text.append(chunk, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// How many frames from the start carry the counting source's samples in order (sample k
// holds k mod 65536); -1 when the file is not a 16-bit stereo 22050 Hz WAV file.
long CountingFrames(const std::string& path) {
    CWave wave;
    wave.Load(path.c_str());
    const WAVEFORMATEX f = wave.GetFormat();
    if (f.nChannels != 2 || f.nSamplesPerSec != 22050 || f.wBitsPerSample != 16) return -1;
    auto* samples = reinterpret_cast<const std::uint16_t*>(wave.GetBuffer());
    DWORD k = 0;
    while (k < wave.GetNumSamples() * 2 && samples[k] == static_cast<std::uint16_t>(k)) ++k;
    return k == wave.GetNumSamples() * 2 ? static_cast<long>(k / 2) : -1;
}

class RecoverTest : public HostTest {
  protected:
    std::string SpoolFolder() const { return tmp_ / "state/talrec/spool"; }
    std::size_t Spools() const {
        std::error_code ec;
        std::size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(SpoolFolder(), ec)) {
            n += e.path().extension() == ".spool";
        }
        return n;
    }

    // A spool that this process made for `destination` with one second of the counting source
    // and then let go, as a recorder that died would leave it.
    void LeaveSpool(const std::string& destination, bool saved = false) {
        ScopedEnv state("XDG_STATE_HOME", env_["XDG_STATE_HOME"]);
        const WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
        auto spool = sp::RecordingSpool::Create(destination, format);
        ASSERT_NE(spool, nullptr);
        std::vector<std::uint16_t> second(2 * 22050);
        for (std::size_t k = 0; k < second.size(); ++k) second[k] = static_cast<std::uint16_t>(k);
        spool->Append(second.data(), second.size() * 2);
        spool->Flush();
        if (saved) {
            ASSERT_EQ(spool->WriteWav(destination, format, second.size() * 2), ERROR_SUCCESS);
        }
        spool->KeepFile();
    }
};

// Killed 3 s into a recording, during a pause, and a moment after a resume: what recover
// writes at the recording's destination is the source from its first sample, in order.
TEST_F(RecoverTest, AKilledRecorderLeavesItsRecordingForRecover) {
    for (const std::string when : {"recording", "paused", "resumed"}) {
        SCOPED_TRACE(when);
        const std::string take = File(when + ".wav");
        {
            auto host = Start();
            ASSERT_EQ(host->Call("recStart", json::array({take})).result(), 0);
            host->Drain(3000ms);
            if (when != "recording") {
                EXPECT_EQ(host->Call("RecordPause").states(), States{"record-pause"});
                host->Drain(500ms);
            }
            if (when == "resumed") {
                EXPECT_EQ(host->Call("RecordContinue").states(), States{"record-resume"});
                host->Drain(100ms);
            }
            host->Kill();
        }
        EXPECT_FALSE(std::filesystem::exists(take)) << "nothing written before the stop";
        EXPECT_EQ(Spools(), 1u);
        const Output recovered = Talrec({"recover"}, env_);
        EXPECT_EQ(recovered.status, 0) << recovered.text;
        EXPECT_NE(recovered.text.find(take), std::string::npos) << recovered.text;
        EXPECT_GE(CountingFrames(take), 2 * 22050);
        EXPECT_EQ(Spools(), 0u);
    }
}

// Only recordings whose recorder is gone and that were never saved are listed; listing
// changes nothing.
TEST_F(RecoverTest, ListShowsTheUnsavedRecordingsOfRecordersThatAreGone) {
    LeaveSpool(File("lost.wav"));
    LeaveSpool(File("saved.wav"), true);
    ScopedEnv state("XDG_STATE_HOME", env_["XDG_STATE_HOME"]);
    auto live =
        sp::RecordingSpool::Create(File("live.wav"), {WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0});
    ASSERT_NE(live, nullptr);
    for (int round = 0; round < 2; ++round) {
        const Output list = Talrec({"recover", "--list"}, env_);
        EXPECT_EQ(list.status, 0);
        EXPECT_EQ(list.text.rfind(File("lost.wav") + "  1.0 s  20", 0), 0u) << list.text;
        EXPECT_EQ(std::count(list.text.begin(), list.text.end(), '\n'), 1) << list.text;
    }
    EXPECT_EQ(Spools(), 3u);
    live.reset();
}

// At the destination when it is free, beside it as "NAME (recovered).wav" when it is not,
// and with --into in the folder given under the same rule; nothing existing is replaced.
TEST_F(RecoverTest, RecoverWritesWhereTheRecordingWasMeantToGoOrBesideIt) {
    LeaveSpool(File("free.wav"));
    LeaveSpool(File("taken.wav"));
    WriteFile(File("taken.wav"), "an earlier file");
    Output done = Talrec({"recover"}, env_);
    EXPECT_EQ(done.status, 0) << done.text;
    EXPECT_EQ(CountingFrames(File("free.wav")), 22050);
    EXPECT_EQ(CountingFrames(File("taken (recovered).wav")), 22050);
    EXPECT_EQ(ReadFile(File("taken.wav")), "an earlier file");

    const std::string into = tmp_ / "into";
    std::filesystem::create_directory(into);
    WriteFile(into + "/elsewhere.wav", "x");
    WriteFile(into + "/elsewhere (recovered).wav", "y");
    LeaveSpool(File("elsewhere.wav"));
    done = Talrec({"recover", "--into", into}, env_);
    EXPECT_EQ(done.status, 0) << done.text;
    EXPECT_EQ(CountingFrames(into + "/elsewhere (recovered 2).wav"), 22050);
    EXPECT_FALSE(std::filesystem::exists(File("elsewhere.wav")));
    EXPECT_EQ(Spools(), 0u);
}

// A spool file laid out byte by byte as every version has written it (the frames at 4140, the
// page offset they have in a WAV file): recover reads it, so files already on disk stay
// readable whatever the spool's code becomes.
TEST_F(RecoverTest, ASpoolFileInTheStoredLayoutIsRecovered) {
    const std::string destination = File("stored.wav");
    std::string bytes = "TALRSPL1";
    auto put = [&bytes](std::uint64_t v, int size) {
        for (int i = 0; i < size; ++i) bytes += static_cast<char>(v >> (8 * i));
    };
    for (auto [v, size] : {std::pair{4140, 4},
                           {0, 4},
                           {1, 2},
                           {2, 2},
                           {22050, 4},
                           {88200, 4},
                           {4, 2},
                           {16, 2},
                           {999999, 4},
                           {1765000000, 8}}) {
        put(static_cast<std::uint64_t>(v), size);
    }
    put(destination.size(), 4);
    bytes += destination;
    bytes.resize(4140);
    for (std::uint64_t k = 0; k < 2 * 1000; ++k) put(k, 2);
    std::filesystem::create_directories(SpoolFolder());
    WriteFile(SpoolFolder() + "/00000000001765000000-999999-0.spool", bytes);
    const Output done = Talrec({"recover"}, env_);
    EXPECT_EQ(done.status, 0) << done.text;
    EXPECT_EQ(CountingFrames(destination), 1000);
    EXPECT_EQ(Spools(), 0u);
}

}  // namespace
