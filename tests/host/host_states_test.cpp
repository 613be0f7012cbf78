// The scripting methods through `talrec host`: results, state strings and their order, by
// manager state.
#include <filesystem>

#include "host/HostFixture.h"

using namespace talrec::test;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

TEST_F(HostTest, WithoutAWindowTheRecordingMethodsFindNoManager) {
    auto host = Start({"--no-window"});
    for (const char* method :
         {"recStop", "RecordStop", "RecordPause", "RecPause", "RecordContinue"}) {
        auto r = host->Call(method);
        EXPECT_EQ(r.result(), -1) << method;
        EXPECT_TRUE(r.notifications.empty()) << method;
    }
    auto r = host->Call("recStart", Args(File("a.wav")));
    EXPECT_EQ(r.result(), -1);
    EXPECT_TRUE(r.notifications.empty());
    EXPECT_EQ(host->Call("RecordTotalFileName").result(), File("a.wav")) << "stored first";
    EXPECT_EQ(host->Call("playStart", Args(File("a.wav"))).result(), -1);
    EXPECT_EQ(host->Call("TempFolderPass").result(), "");

    EXPECT_EQ(host->Call("host.createWindow").result(), 0);
    EXPECT_EQ(host->Call("recStop").states(), States{"record-stop"});
}

TEST_F(HostTest, IdleManagerReportsEveryRequestAsPassedOn) {
    auto host = Start();
    auto stop = host->Call("recStop");
    EXPECT_EQ(stop.result(), 0);
    EXPECT_EQ(stop.states(), States{"record-stop"});
    EXPECT_EQ(host->Call("RecordPause").states(), States{"record-pause"});
    EXPECT_EQ(host->Call("RecordContinue").states(), States{"record-resume"});
    EXPECT_FALSE(std::filesystem::exists(File("a.wav")));
}

TEST_F(HostTest, RecordingCycleWithPausesWritesTheSourceInOrder) {
    auto host = Start();
    auto start = host->Call("recStart", Args(File("take.wav")));
    EXPECT_EQ(start.result(), 0);
    EXPECT_EQ(start.states(), States{"record-start"});
    ASSERT_EQ(start.notifications.size(), 1u) << "the event comes before the reply";

    host->Drain(300ms);
    // While recording: a second start is refused, but its path is stored first.
    auto again = host->Call("recStart", Args(File("other.wav")));
    EXPECT_EQ(again.result(), -2);
    EXPECT_TRUE(again.notifications.empty());
    EXPECT_EQ(host->Call("RecordTotalFileName").result(), File("other.wav"));
    EXPECT_EQ(host->Call("RecordFileName").result(), "other.wav");
    EXPECT_EQ(host->Call("RecordContinue").states(), States{"record-resume"});

    EXPECT_EQ(host->Call("RecordPause").states(), States{"record-pause"});
    host->Drain(300ms);
    // Resuming through recStart goes on into the first file.
    auto resume = host->Call("RecordStartFile", Args(File("third.wav")));
    EXPECT_EQ(resume.result(), 0);
    EXPECT_EQ(resume.states(), States{"record-resume"});
    host->Drain(300ms);
    EXPECT_EQ(host->Call("RecPause").states(), States{"record-pause"});
    EXPECT_EQ(host->Call("RecPause").states(), States{"record-pause"}) << "and runs on";
    host->Drain(300ms);

    auto stop = host->Call("recStop");
    EXPECT_EQ(stop.result(), 0);
    EXPECT_EQ(stop.states(), States{"record-stop"});
    EXPECT_FALSE(std::filesystem::exists(File("other.wav")));
    EXPECT_FALSE(std::filesystem::exists(File("third.wav")));

    CWave take;
    take.Load(File("take.wav").c_str());
    EXPECT_EQ(take.GetFormat().nChannels, 2);
    EXPECT_EQ(take.GetFormat().nSamplesPerSec, 22050u);
    // About 0.9 s recorded while not paused; the paused time left no gap.
    double seconds = take.GetNumSamples() / 22050.0;
    EXPECT_GT(seconds, 0.6);
    EXPECT_LT(seconds, 2.0);
    auto* samples = reinterpret_cast<const std::uint16_t*>(take.GetBuffer());
    for (DWORD k = 0; k < take.GetNumSamples() * 2; ++k) {
        ASSERT_EQ(samples[k], static_cast<std::uint16_t>(k)) << "sample " << k;
    }
}

TEST_F(HostTest, APausedRecordingStaysPausedThroughPlaybackAndStopsFromThere) {
    auto host = Start();
    host->Call("recStart", Args(File("first.wav")));
    host->Drain(300ms);
    host->Call("recStop");
    host->Call("recStart", Args(File("paused.wav")));
    host->Drain(300ms);
    EXPECT_EQ(host->Call("RecordPause").states(), States{"record-pause"});
    EXPECT_EQ(host->Call("playStart", Args(File("first.wav"))).states(), States{"play-start"});
    EXPECT_FALSE(std::filesystem::exists(File("paused.wav"))) << "left paused, not written";
    EXPECT_EQ(host->Call("recStart", Args(File("x.wav"))).states(), States{"record-resume"});
    EXPECT_EQ(host->Call("RecordPause").states(), States{"record-pause"});
    EXPECT_EQ(host->Call("RecordContinue").states(), States{"record-resume"});
    EXPECT_EQ(host->Call("RecordPause").states(), States{"record-pause"});
    auto stop = host->Call("RecordStop");
    EXPECT_EQ(stop.result(), 0);
    EXPECT_EQ(stop.states(), States{"record-stop"});
    EXPECT_TRUE(std::filesystem::exists(File("paused.wav")));
}

TEST_F(HostTest, StopIntoAMissingFolderRaisesAndTheNextStartRecordsAgain) {
    auto host = Start();
    EXPECT_EQ(host->Call("recStart", Args(File("missing/a.wav"))).result(), 0);
    host->Drain(200ms);
    auto stop = host->Call("recStop");
    EXPECT_EQ(stop.errorCode(), kDispException);
    EXPECT_TRUE(stop.states().empty()) << "no record-stop";
    EXPECT_FALSE(stop.reply["error"]["message"].get<std::string>().empty());

    auto start = host->Call("recStart", Args(File("b.wav")));
    EXPECT_EQ(start.result(), 0);
    EXPECT_EQ(start.states(), States{"record-start"}) << "the manager was left idle";
    host->Drain(200ms);
    EXPECT_EQ(host->Call("RecordStop").states(), States{"record-stop"});
    EXPECT_TRUE(std::filesystem::exists(File("b.wav")));
}

TEST_F(HostTest, PlayStartEndsARunningRecordingAndReportsTheEndOnce) {
    auto host = Start();
    host->Call("recStart", Args(File("a.wav")));
    host->Drain(500ms);
    auto play = host->Call("playStart", Args(File("a.wav")));
    EXPECT_EQ(play.result(), 0);
    EXPECT_EQ(play.states(), States{"play-start"}) << "no record-stop";
    ASSERT_TRUE(std::filesystem::exists(File("a.wav")));

    // The file lasts about half a second; the one-second poll reports its end once.
    auto events = host->Drain(3000ms);
    std::vector<std::string> names;
    for (const auto& e : events) {
        names.push_back(e["method"] == "RecorderStateNotify" ? e["params"][0].get<std::string>()
                                                             : e["method"].get<std::string>());
    }
    EXPECT_EQ(names, (States{"EvtPlayStop", "play-complete"}));
}

TEST_F(HostTest, PlayStartOnAPausedFileResumesItAndTheStopsDiffer) {
    auto host = Start();
    host->Call("recStart", Args(File("a.wav")));
    host->Drain(1500ms);
    host->Call("recStop");

    EXPECT_EQ(host->Call("playStart", Args(File("a.wav"))).states(), States{"play-start"});
    EXPECT_EQ(host->Call("PlayPause").states(), States{"play-pause"});
    auto resume = host->Call("PlayStartFile", Args(File("not-this.wav")));
    EXPECT_EQ(resume.states(), States{"play-resume"});
    EXPECT_EQ(host->Call("RecordTotalFileName").result(), File("a.wav"));

    auto silent = host->Call("playStop");
    EXPECT_EQ(silent.result(), 0);
    EXPECT_TRUE(silent.notifications.empty());
    EXPECT_EQ(host->Call("playStart", Args(File("a.wav"))).states(), States{"play-start"});
    EXPECT_EQ(host->Call("PlayStopOrg").states(), States{"play-stop"});
    EXPECT_EQ(host->Call("#18").states(), States{"play-stop"});
    EXPECT_TRUE(host->Drain(2500ms).empty()) << "a stopped file never completes";
}

TEST_F(HostTest, OwnTableNamesAtLocaleZeroAndTypeLibraryNamesOtherwise) {
    auto own = Start({"--lcid", "0"});
    EXPECT_EQ(own->Call("PlayStop").states(), States{"play-stop"});
    EXPECT_TRUE(own->Call("playStop").notifications.empty());
    EXPECT_TRUE(own->Call("PLAYSTOP").notifications.empty()) << "no exact match: the first, 10";
    own.reset();

    auto typelib = Start();
    EXPECT_EQ(typelib->Call("PlayStopOrg").states(), States{"play-stop"});
    EXPECT_TRUE(typelib->Call("PlayStop").notifications.empty()) << "playStop, dispid 10";
}

TEST_F(HostTest, RecordingCarriesTheSourceLevelAboutTwentyTimesASecond) {
    env_["TALREC_VIRTUAL_SOURCE"] = "tone:440:0.25";
    auto host = Start();
    host->Call("recStart", Args(File("tone.wav")));
    host->Drain(2000ms);
    host->Call("recStop");
    // 4096-byte buffers at 88200 bytes per second: 21.5 a second.
    EXPECT_GT(host->levels.size(), 34u);
    EXPECT_LT(host->levels.size(), 52u);
    // Mean absolute value of a quarter-scale sine: 0.25 * 32767 * 2 / pi = 5215, / 90 = 57.
    for (int level : host->levels) EXPECT_NEAR(level, 57, 1);
}

TEST_F(HostTest, PathsOutsideTheAllowedFoldersAreRefusedSilently) {
    auto host = Start();
    std::string outside = tmp_ / "outside.wav";
    talrec::test::WriteFile(outside, "keep");
    auto rec = host->Call("recStart", Args(outside));
    EXPECT_EQ(rec.result(), -1);
    EXPECT_TRUE(rec.notifications.empty());
    EXPECT_EQ(host->Call("RecordTotalFileName").result(), outside) << "stored first";
    EXPECT_EQ(host->Call("RecordStartFile", Args(File("../outside.wav"))).result(), -1);
    EXPECT_EQ(host->Call("playStart", Args(outside)).result(), -1);
    EXPECT_EQ(host->Call("DeleteAudioFile", Args(outside)).result(), 1);
    EXPECT_EQ(host->Call("ConvertWavToWMA", json::array({File("x.wav"), outside})).result(), -1);
    EXPECT_EQ(talrec::test::ReadFile(outside), "keep");
}

TEST_F(HostTest, TempFolderPassShowsItsMessageForAnythingButAFolder) {
    auto host = Start();
    std::string before = host->Call("TempFolderPass").result();
    auto dir = host->Call("TempFolderPass", Args(Files()));
    EXPECT_TRUE(dir.notifications.empty());
    auto file = host->Call("TempFolderPass", Args(tmp_ / "counting.wav"));
    ASSERT_EQ(file.notifications.size(), 1u);
    EXPECT_EQ(file.notifications[0]["method"], "host.messageBox");
    EXPECT_EQ(file.notifications[0]["params"][0],
              "설정된 값은 디렉토리가 아닙니다 [ " + (tmp_ / "counting.wav") + " ]");
    EXPECT_EQ(host->Call("TempFolderPass", Args("")).notifications.size(), 1u);
    EXPECT_EQ(host->Call("TempFolderPass").result(), before);
}

TEST_F(HostTest, QueriesAndSettingsChangeNothing) {
    auto host = Start();
    EXPECT_EQ(host->Call("GetErrorString", json::array({0})).result(), "Succeeded");
    for (int code : {-1, 1, -2}) {
        EXPECT_EQ(host->Call("GetErrorString", json::array({code})).result(), "Failed");
    }
    EXPECT_EQ(host->Call("SetPcmFormat", Args("")).result(), 0);
    EXPECT_EQ(host->Call("RecordTimeOut", json::array({5})).result(), 0);
    EXPECT_EQ(host->Call("RecordFileName").result(), "");
    host->Call("recStart", Args(File("x.wav")));
    host->Call("recStop");
    EXPECT_EQ(host->Call("RecordFileName").result(), "x.wav");
}

}  // namespace
