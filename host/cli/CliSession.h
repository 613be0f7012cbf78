// A command-line session with the control: the control created by ProgID the way any
// container does, its events, a message loop on the main thread (the user-interface thread),
// single key presses from the terminal, a tick every 50 ms, and Ctrl-C / SIGTERM turned into
// a request to stop. Everything a session calls back runs on the loop's thread. The
// platform's debug output (a device that does not open, a file that cannot be played) comes
// out as a line on standard error.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "host/common/ComContainer.h"
#include "host/common/ControlClass.h"
#include "host/common/DebugRoute.h"
#include "platform/ext/consoleinput.h"
#include "platform/ext/messageloop.h"
#include "platform/winuser.h"

namespace talrec::host {

// Exit codes of the command-line tools.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;         // a file, device or call failed
inline constexpr int kExitUsage = 2;          // wrong arguments
inline constexpr int kExitNoControl = 3;      // the control is not registered or not created
inline constexpr int kExitInterrupted = 130;  // playback stopped by Ctrl-C or SIGTERM

// Routes Ctrl-C and SIGTERM to the running session. First thing in a command, before any
// other thread starts.
void InstallInterruptHandler();

class CliSession {
  public:
    using EventHandler = std::function<void(const std::string& name, const nlohmann::json& args)>;

    // Null with `error` set when the control cannot be created.
    static std::unique_ptr<CliSession> Open(std::string& error);
    ~CliSession();
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // Loop-thread callbacks; set before the calls whose events they should see.
    EventHandler onEvent;
    std::function<void(int key)> onKey;
    std::function<void()> onTick;
    std::function<void()> onInterrupt;

    void ClearHandlers() {
        onEvent = nullptr, onKey = nullptr, onTick = nullptr, onInterrupt = nullptr;
    }

    // Calls a scripting member; its integer result, or `failed` when the call itself failed.
    long CallNumber(const std::string& name, const nlohmann::json& params, long failed = -9999);
    CallResult Call(const std::string& name, const nlohmann::json& params);

    // Runs the loop until Quit; returns Quit's code.
    int Run();
    void Quit(int code) { loop_.Quit(code); }

    // The text of the last message box the control showed ("" when none).
    const std::string& LastMessage() const { return lastMessage_; }
    // How many lines of debug output the session has shown.
    int DebugLines() const { return debug_ ? debug_->Count() : 0; }

  private:
    CliSession() = default;

    MessageLoop loop_;
    std::unique_ptr<ComContainer> container_;
    platform::ConsoleKeys keys_;
    std::string lastMessage_;
    bool inputEnded_ = false;            // read and written by the key thread only
    std::unique_ptr<DebugRoute> debug_;  // ends first, before the loop
};

}  // namespace talrec::host
