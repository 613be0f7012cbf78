#include "host/cli/CliTakes.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "control/StateStrings.h"
#include "host/common/TerminalText.h"
#include "platform/ext/grantedfolders.h"

namespace talrec::host {
namespace {

namespace states = talrec::states;

using Clock = std::chrono::steady_clock;

// Time that runs only while not paused.
class Stopwatch {
  public:
    void Start() { running_ = true, since_ = Clock::now(); }
    void Pause() {
        if (running_) total_ += Clock::now() - since_;
        running_ = false;
    }
    double Seconds() const {
        auto t = total_ + (running_ ? Clock::now() - since_ : Clock::duration::zero());
        return std::chrono::duration<double>(t).count();
    }

  private:
    bool running_ = false;
    Clock::time_point since_{};
    Clock::duration total_{};
};

bool IsEnter(int key) {
    return key == '\n' || key == '\r';
}

}  // namespace

std::string GrantedPath(const std::string& path, const char* command) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    std::filesystem::path folder = full.parent_path();
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        std::fprintf(stderr, "talrec %s: no folder %s\n", command,
                     TerminalText(folder.string()).c_str());
        return "";
    }
    if (!platform::ContainerGrantFolder(folder.string())) {
        std::fprintf(stderr, "talrec %s: cannot use folder %s\n", command,
                     TerminalText(folder.string()).c_str());
        return "";
    }
    return full.string();
}

TakeResult RecordTake(CliSession& session, const std::string& path, double seconds,
                      MeterDisplay& display, const char* command) {
    TakeResult take;
    Stopwatch watch;
    int level = 0;
    bool paused = false;
    bool stopping = false;
    auto show = [&] {
        std::string state = paused ? "paused" : "recording";
        std::string line = LevelBar(level) + " " + std::to_string(level) + "  " +
                           FormatClock(watch.Seconds()) + "  " + state;
        if (!display.terminal()) {
            line = FormatClock(watch.Seconds()) + " level " + std::to_string(level) + " " + state;
        }
        display.Show(line, state, watch.Seconds());
    };
    auto stop = [&] {
        if (stopping) return;
        stopping = true;
        watch.Pause();
        take.seconds = watch.Seconds();
        session.Quit(0);
    };
    // Loop thread, as every session callback.
    session.onEvent = [&](const std::string& name, const nlohmann::json& args) {
        if (name == "VolumeStatus" && !paused && !args.empty() && args[0].is_number()) {
            level = args[0].get<int>();
            show();
        } else if (name == "RecorderStateNotify" && !args.empty()) {
            if (args[0] == states::kRecordPause) paused = true, watch.Pause(), level = 0;
            if (args[0] == states::kRecordResume) paused = false, watch.Start();
        }
    };
    session.onKey = [&](int key) {
        // RecordPause reports "record-pause" in both directions of its toggle; resuming
        // through RecordContinue keeps the state this side knows unambiguous.
        if (key == ' ') {
            session.CallNumber(paused ? "RecordContinue" : "RecordPause", nlohmann::json::array());
        }
        if (IsEnter(key)) stop();
    };
    session.onTick = [&] {
        if (seconds > 0 && watch.Seconds() >= seconds) return stop();
        if (paused || display.terminal()) show();
    };
    session.onInterrupt = [&] {
        take.interrupted = true;
        stop();
    };

    long started = session.CallNumber("recStart", nlohmann::json::array({path}));
    if (started != 0) {
        std::fprintf(stderr, "talrec %s: the control did not start recording into %s (%ld)\n",
                     command, TerminalText(path).c_str(), started);
        take.exitCode = kExitFailed;
        session.ClearHandlers();
        return take;
    }
    watch.Start();
    show();
    session.Run();
    show();
    display.Finish();
    long stopped = session.CallNumber("recStop", nlohmann::json::array());
    session.ClearHandlers();
    if (stopped != 0 || !std::filesystem::exists(path)) {
        std::fprintf(stderr, "talrec %s: the recording could not be written to %s\n", command,
                     TerminalText(path).c_str());
        take.exitCode = kExitFailed;
    }
    return take;
}

TakeResult PlayTake(CliSession& session, const std::string& path, double totalSeconds,
                    MeterDisplay& display, const char* command) {
    TakeResult take;
    Stopwatch watch;
    bool paused = false;
    bool done = false;
    std::string total = totalSeconds >= 0 ? FormatClock(totalSeconds) : "--:--.-";
    auto show = [&](const std::string& state) {
        double elapsed = watch.Seconds();
        // The clock runs on while the output drains; the end is the file's length.
        if (totalSeconds >= 0 && (state == states::kPlayComplete || elapsed > totalSeconds)) {
            elapsed = totalSeconds;
        }
        display.Show(FormatClock(elapsed) + " / " + total + "  " + state, state, elapsed);
    };
    auto finish = [&](int code) {
        if (done) return;
        done = true;
        watch.Pause();
        take.seconds = watch.Seconds();
        session.Quit(code);
    };
    session.onEvent = [&](const std::string& name, const nlohmann::json& args) {
        if (name != "RecorderStateNotify" || args.empty()) return;
        if (args[0] == states::kPlayPause) paused = true, watch.Pause(), show("paused");
        if (args[0] == states::kPlayResume) paused = false, watch.Start();
        if (args[0] == states::kPlayComplete) show(states::kPlayComplete), finish(kExitOk);
    };
    auto stop = [&](int code) {
        session.CallNumber("PlayStopOrg", nlohmann::json::array());  // PlayStop, "play-stop"
        show("stopped");
        finish(code);
    };
    session.onKey = [&](int key) {
        if (key == ' ') {
            session.CallNumber(paused ? "PlayContinue" : "PlayPause", nlohmann::json::array());
        }
        if (IsEnter(key)) stop(kExitOk);
    };
    session.onTick = [&] {
        if (!done) show(paused ? "paused" : "playing");
    };
    session.onInterrupt = [&] {
        take.interrupted = true;
        stop(kExitInterrupted);
    };

    long started = session.CallNumber("playStart", nlohmann::json::array({path}));
    if (started != 0) {
        std::fprintf(stderr, "talrec %s: the control did not start playing %s (%ld)\n", command,
                     TerminalText(path).c_str(), started);
        take.exitCode = kExitFailed;
        session.ClearHandlers();
        return take;
    }
    watch.Start();
    show("playing");
    take.exitCode = session.Run();
    display.Finish();
    session.ClearHandlers();
    return take;
}

}  // namespace talrec::host
