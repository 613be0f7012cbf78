// Files the control meets in use or of the wrong kind, through `talrec host`: each call gives
// its own failure, the file is left as it was, and the host answers the next request.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/HostFixture.h"

using namespace talrec::test;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// A 16-bit stereo 22050 Hz sound of the given length.
void SaveSound(const std::string& path, double seconds) {
    CWave wave;
    wave.SetFormat(2, 22050, 16);
    const auto frames = static_cast<DWORD>(seconds * 22050);
    auto* block = new BYTE[frames * 4]();
    wave.SetBuffer(block, frames, false);
    wave.Save(path.c_str());
}

void ExpectStillAnswers(HostProcess& host) {
    EXPECT_EQ(host.Call("GetErrorString", json::array({0})).result(), "Succeeded");
}

TEST_F(HostTest, AFileThePlayerHoldsIsInUseWhilePlayingAndPausedAndPlaysOn) {
    auto host = Start();
    const std::string folder = host->Call("GetDataFolder").result();
    const std::string played = folder + "/played.wav";
    SaveSound(played, 1.5);
    SaveSound(folder + "/other.wav", 0.1);

    EXPECT_EQ(host->Call("playStart", Args(played)).states(), States{"play-start"});
    EXPECT_EQ(host->Call("DeleteAudioFile", Args(played)).result(), 1) << "playing";
    EXPECT_EQ(host->Call("PlayPause").states(), States{"play-pause"});
    EXPECT_EQ(host->Call("DeleteAudioFile", Args(played)).result(), 1) << "paused";
    EXPECT_EQ(host->Call("DeleteAudioFileALL").result(), 1);
    EXPECT_TRUE(std::filesystem::exists(played));
    EXPECT_FALSE(std::filesystem::exists(folder + "/other.wav")) << "the rest is deleted";

    EXPECT_EQ(host->Call("playStart", Args(played)).states(), States{"play-resume"});
    States ends;
    while (auto line = host->ReadLine(15s)) {  // the sound's rest, then the one-second poll
        if (line->value("method", "") != "RecorderStateNotify") continue;
        ends.push_back((*line)["params"][0]);
        if (ends.back() == "play-complete") break;
    }
    EXPECT_EQ(ends, States{"play-complete"}) << "played to its end";
    EXPECT_EQ(host->Call("DeleteAudioFile", Args(played)).result(), 0) << "closed at its end";
}

TEST_F(HostTest, ConvertingAFileOntoItselfOrALinkToItIsRefused) {
    auto host = Start();
    const std::string source = File("a.wav");
    SaveSound(source, 0.2);
    const std::string before = ReadFile(source);
    std::filesystem::create_symlink(source, File("link.wma"));
    std::filesystem::create_hard_link(source, File("hard.wma"));
    for (const std::string& dest : {source, File("link.wma"), File("hard.wma")}) {
        EXPECT_EQ(host->Call("ConvertWavToWMA", json::array({source, dest})).result(), -1) << dest;
    }
    EXPECT_TRUE(ReadFile(source) == before) << "the source changed";
}

TEST_F(HostTest, APipeIsNeitherAConversionSourceNorARecordingDestination) {
    auto host = Start();
    const std::string pipe = File("pipe.wav");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0);

    // Without the mend each of these waits for a writer or reader that never comes.
    auto convert = host->Call("ConvertWavToWMA", json::array({pipe, File("out.wma")}), 10s);
    EXPECT_EQ(convert.result(), -1);
    EXPECT_FALSE(std::filesystem::exists(File("out.wma")));
    ExpectStillAnswers(*host);

    EXPECT_EQ(host->Call("recStart", Args(pipe)).result(), 0);
    host->Drain(300ms);
    auto stop = host->Call("recStop", json::array(), 10s);
    EXPECT_EQ(stop.errorCode(), kDispException) << "the save failure";
    ExpectStillAnswers(*host);
}

// Tests run as root here: the write bits must decide, as the attribute does on Windows.
TEST_F(HostTest, RecordingOntoAFileWithoutWriteBitsFailsAndLeavesIt) {
    auto host = Start();
    const std::string locked = File("locked.wav");
    WriteFile(locked, "keep me");
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);

    EXPECT_EQ(host->Call("recStart", Args(locked)).result(), 0);
    host->Drain(300ms);
    EXPECT_EQ(host->Call("recStop").errorCode(), kDispException);
    EXPECT_EQ(ReadFile(locked), "keep me");
    ExpectStillAnswers(*host);
}

}  // namespace

// Failures a script sees only through their missing effect are named on host.debug, before
// the reply of the call that met them; the results and states stay as they are.
TEST_F(HostTest, AnInputThatDoesNotOpenAndAFileThatCannotBePlayedAreNamedOnTheDebugOutput) {
    const auto debugTexts = [](const HostProcess::Reply& r) {
        std::string texts;
        for (const auto& n : r.notifications) {
            if (n["method"] == "host.debug") texts += n["params"][0].get<std::string>() + "\n";
        }
        return texts;
    };
    env_["TALREC_WAVE_DEVICE"] = "alsa:nosuchpcm";
    auto host = Start();
    auto start = host->Call("recStart", Args(File("take.wav")));
    EXPECT_EQ(start.result(), 0);
    EXPECT_EQ(start.states(), States{"record-start"});
    EXPECT_NE(debugTexts(start).find("nosuchpcm"), std::string::npos) << start.reply;
    EXPECT_EQ(host->Call("recStop").states(), States{"record-stop"});

    const std::string text = File("notes.txt");
    std::ofstream(text) << "not a sound\n";
    auto play = host->Call("playStart", Args(text));
    EXPECT_EQ(play.states(), States{"play-start"});
    EXPECT_NE(debugTexts(play).find("notes.txt"), std::string::npos) << play.reply;
    ExpectStillAnswers(*host);
}
