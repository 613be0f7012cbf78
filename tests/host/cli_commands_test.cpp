// The command-line tools driven under a pseudo-terminal with the virtual device: what they
// write to files, how keys and signals stop and pause them, and what the meter shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "host/HostFixture.h"
#include "host/cli_terminal.h"

namespace talrec::test {
namespace {

using namespace std::chrono_literals;
constexpr double kFrameRate = 22050;

struct Recorded {
    std::vector<std::uint16_t> samples;  // interleaved stereo
    double seconds() const { return static_cast<double>(samples.size()) / 2 / kFrameRate; }
    // Frames from the start that carry the counting source's values in order.
    std::size_t countingPrefix() const {
        std::size_t k = 0;
        while (k < samples.size() && samples[k] == static_cast<std::uint16_t>(k)) ++k;
        return k / 2;
    }
};

Recorded Read(const std::string& path) {
    CWave wave;
    wave.Load(path.c_str());
    Recorded out;
    auto* begin = reinterpret_cast<const std::uint16_t*>(wave.GetBuffer());
    out.samples.assign(begin, begin + wave.GetNumSamples() * 2);
    return out;
}

// The filled cells of each level bar drawn, in order: "[" then 40 cells of '#' or '.', "]".
std::vector<int> BarFills(const std::string& output) {
    std::vector<int> fills;
    for (std::size_t at = output.find('['); at != std::string::npos;
         at = output.find('[', at + 1)) {
        if (at + 41 >= output.size() || output[at + 41] != ']') continue;
        std::string cells = output.substr(at + 1, 40);
        if (cells.find_first_not_of("#.") != std::string::npos) continue;
        fills.push_back(static_cast<int>(std::count(cells.begin(), cells.end(), '#')));
    }
    return fills;
}

class CliTest : public HostTest {
  protected:
    std::unique_ptr<CliTerminal> Run(const std::vector<std::string>& args) {
        return std::make_unique<CliTerminal>(args, env_);
    }
};

TEST_F(CliTest, RecordForOneSecondWritesOneSecondOfTheSource) {
    auto term = Run({"record", File("one.wav"), "--seconds", "1"});
    ASSERT_EQ(term->Wait(20s), 0) << term->output();
    Recorded take = Read(File("one.wav"));
    EXPECT_NEAR(take.seconds(), 1.0, 0.2);
    EXPECT_EQ(take.countingPrefix() * 2, take.samples.size()) << "the source, in order";
    EXPECT_NE(term->output().find("wrote " + File("one.wav")), std::string::npos);
    EXPECT_NE(term->output().find('\r'), std::string::npos) << "a redrawn meter on a terminal";
}

TEST_F(CliTest, SignalsStopTheRecordingAndKeepWhatWasRecorded) {
    for (int signal : {SIGINT, SIGTERM}) {
        std::string path = File("signal" + std::to_string(signal) + ".wav");
        auto term = Run({"record", path});
        ASSERT_TRUE(term->WaitFor("recording", 10s)) << term->output();
        auto started = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(1200ms);
        double before =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        term->Signal(signal);
        ASSERT_EQ(term->Wait(20s), 0) << term->output();
        Recorded take = Read(path);
        EXPECT_GE(take.seconds(), before - 0.25) << "signal " << signal;
        EXPECT_LE(take.seconds(), before + 1.0) << "signal " << signal;
        EXPECT_EQ(take.countingPrefix() * 2, take.samples.size()) << "signal " << signal;
    }
}

TEST_F(CliTest, SpacePausesAndThePausedTimeIsAbsent) {
    auto term = Run({"record", File("paused.wav"), "--seconds", "1.5"});
    ASSERT_TRUE(term->WaitFor("recording", 10s));
    std::this_thread::sleep_for(500ms);
    term->Type(" ");
    ASSERT_TRUE(term->WaitFor("paused", 5s)) << term->output();
    std::this_thread::sleep_for(1500ms);
    term->Type(" ");
    ASSERT_EQ(term->Wait(20s), 0) << term->output();
    Recorded take = Read(File("paused.wav"));
    EXPECT_NEAR(take.seconds(), 1.5, 0.3) << "1.5 s recorded around a 1.5 s pause";
    EXPECT_EQ(take.countingPrefix() * 2, take.samples.size()) << "no gap, no repeat";
}

TEST_F(CliTest, EnterStopsTheRecording) {
    auto term = Run({"record", File("enter.wav")});
    ASSERT_TRUE(term->WaitFor("recording", 10s));
    std::this_thread::sleep_for(500ms);
    term->Type("\r");
    ASSERT_EQ(term->Wait(20s), 0) << term->output();
    EXPECT_GT(Read(File("enter.wav")).seconds(), 0.3);
}

TEST_F(CliTest, PlayShowsTheTotalAndEndsAtTheFilesEnd) {
    CWave wave;
    wave.SetFormat(2, 22050, 16);
    wave.SetBuffer(new BYTE[22050 * 4](), 22050, false);
    wave.Save(File("second.wav").c_str());
    auto start = std::chrono::steady_clock::now();
    auto term = Run({"play", File("second.wav")});
    ASSERT_EQ(term->Wait(20s), 0) << term->output();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms) << "played, not cut short";
    EXPECT_NE(term->output().find("/ 00:01.0"), std::string::npos) << term->output();
    EXPECT_NE(term->output().find("play-complete"), std::string::npos) << term->output();
}

TEST_F(CliTest, MeterBarFollowsTheSourceLevel) {
    auto median = [&](const std::string& source, const std::string& name) {
        env_["TALREC_VIRTUAL_SOURCE"] = source;
        auto term = Run({"record", File(name), "--seconds", "1"});
        EXPECT_EQ(term->Wait(20s), 0);
        std::vector<int> fills = BarFills(term->output());
        EXPECT_GE(fills.size(), 10u) << "about 20 updates a second";
        if (fills.empty()) return -1;
        std::sort(fills.begin(), fills.end());
        return fills[fills.size() / 2];
    };
    int loud = median("tone:440:0.9", "loud.wav");
    int quiet = median("tone:440:0.1", "quiet.wav");
    EXPECT_GT(loud, quiet);
    EXPECT_GT(loud, 0);
}

TEST_F(CliTest, DemoRegistersRecordsConvertsAndPlays) {
    env_["TALREC_REGISTRY"] = tmp_ / "fresh-registry";
    env_["TALREC_VIRTUAL_SOURCE"] = "tone:440:0.5";
    auto term = Run({"demo"});
    ASSERT_EQ(term->Wait(60s), 0) << term->output();
    std::string folder = tmp_ / "data/quorvex";
    EXPECT_NEAR(Read(folder + "/demo.wav").seconds(), 3.0, 0.3);
    EXPECT_GT(std::filesystem::file_size(folder + "/demo.wma"), 1000u);
    EXPECT_NE(term->output().find("virtual"), std::string::npos) << "says which input";
    EXPECT_NE(term->output().find("DllRegisterServer"), std::string::npos);
    EXPECT_NE(term->output().find("play-complete"), std::string::npos);
}

TEST_F(CliTest, FailuresAreOneLineWithTheirExitCodes) {
    auto missing = Run({"record", File("no/such/folder.wav"), "--seconds", "1"});
    EXPECT_EQ(missing->Wait(10s), 1);
    EXPECT_NE(missing->output().find("talrec record: no folder"), std::string::npos);
    auto bad = Run({"record", File("x.wav"), "--seconds", "soon"});
    EXPECT_EQ(bad->Wait(10s), 2);
    auto unreadable = Run({"play", File("none.wav")});
    EXPECT_EQ(unreadable->Wait(10s), 1);
    env_["TALREC_REGISTRY"] = tmp_ / "empty-registry";
    std::string one = File("x.wav");
    talrec::test::WriteFile(one, "not a sound file");
    auto noControl = Run({"record", one, "--seconds", "1"});
    EXPECT_EQ(noControl->Wait(10s), 3);
    EXPECT_NE(noControl->output().find("talrec register"), std::string::npos);
}

TEST_F(CliTest, PlainLinesWhenTheOutputIsNoTerminal) {
    std::string out = tmp_ / "out.txt";
    std::string program = BinDir() + "/talrec";
    std::string command =
        program + " record " + File("plain.wav") + " --seconds 1.2 >" + out + " </dev/null";
    for (const auto& [name, value] : env_) setenv(name.c_str(), value.c_str(), 1);
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string text = talrec::test::ReadFile(out);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find('\033'), std::string::npos);
    EXPECT_NE(text.find("00:01"), std::string::npos) << text;
    EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 8) << "about one line a second";
}

// The browsers' host manifests: written where each browser reads them, naming this program and
// only talrec's extension; refused with a bad browser or program, and taken away again.
TEST_F(HostTest, InstallBrowserHostWritesAndRemovesTheManifests) {
    namespace fs = std::filesystem;
    env_["HOME"] = tmp_ / "home";
    env_["XDG_CONFIG_HOME"] = tmp_ / "config";
    const std::string talrec = BinDir() + "/talrec";
    const fs::path chromium =
        tmp_ / "config/chromium/NativeMessagingHosts/com.talrec.recorder.json";
    const fs::path firefox = tmp_ / "home/.mozilla/native-messaging-hosts/com.talrec.recorder.json";
    for (const std::vector<std::string>& refused :
         {std::vector<std::string>{"--browser", "edge"}, {"--exec", "talrec"}, {"--print"}}) {
        std::vector<std::string> command{talrec, "install-browser-host"};
        command.insert(command.end(), refused.begin(), refused.end());
        EXPECT_EQ(RunCommand(command, env_), 2) << refused.front();
    }
    EXPECT_FALSE(fs::exists(tmp_ / "config/chromium"));

    // No browser folder yet: Chromium's; with Firefox's folder: both.
    ASSERT_EQ(RunCommand({talrec, "install-browser-host"}, env_), 0);
    fs::create_directories(tmp_ / "home/.mozilla");
    ASSERT_EQ(RunCommand({talrec, "install-browser-host"}, env_), 0);
    const auto chromiumManifest = nlohmann::json::parse(ReadFile(chromium));
    EXPECT_EQ(chromiumManifest["path"], fs::canonical(talrec).string());
    EXPECT_EQ(chromiumManifest["allowed_origins"],
              nlohmann::json::array({"chrome-extension://nabnkdmdefeedmjlhnopnpkjibphleki/"}));
    EXPECT_EQ(nlohmann::json::parse(ReadFile(firefox))["allowed_extensions"],
              nlohmann::json::array({"recorder@talrec"}));
    EXPECT_EQ(fs::status(chromium).permissions() & fs::perms::all, fs::perms(0644));

    ASSERT_EQ(RunCommand({talrec, "install-browser-host", "--remove"}, env_), 0);
    EXPECT_FALSE(fs::exists(chromium));
    EXPECT_FALSE(fs::exists(firefox));
}

}  // namespace
}  // namespace talrec::test
