#include "host/cli/CliSession.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "host/common/TerminalText.h"
#include "platform/consoleapi.h"
#include "platform/ext/console.h"
#include "platform/ext/hosthooks.h"
#include "platform/ext/messageloop.h"
#include "platform/objbase.h"

namespace talrec::host {
namespace {

std::mutex g_mutex;  // guards g_session and g_poster
CliSession* g_session = nullptr;
std::optional<MessageLoop::Poster> g_poster;

// On the platform's signal thread: hands the interrupt to the session's loop. Without a
// session the default action ends the process.
BOOL OnControlEvent(DWORD) {
    std::lock_guard lock(g_mutex);
    if (g_session == nullptr || !g_poster) return FALSE;
    CliSession* session = g_session;
    g_poster->Post([session] {
        if (session->onInterrupt) session->onInterrupt();
    });
    return TRUE;
}

}  // namespace

void InstallInterruptHandler() {
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

std::unique_ptr<CliSession> CliSession::Open(std::string& error) {
    CoInitialize(nullptr);
    std::unique_ptr<CliSession> session(new CliSession());
    // Loop thread: a line of its own, also when the meter is being redrawn on a terminal.
    const bool meterInPlace = platform::IsTerminal(stdout);
    session->debug_ = std::make_unique<DebugRoute>(
        session->loop_, [meterInPlace](const std::string& text, ULONGLONG) {
            std::fprintf(stderr, "%stalrec: %s\n", meterInPlace ? "\n" : "",
                         TerminalText(text).c_str());
        });
    session->container_ = ComContainer::Create(kControlProgId, error);
    if (!session->container_) return nullptr;
    CliSession* self = session.get();
    // Loop thread: the control's message boxes carry its error texts; they go to stderr.
    SetMessageBoxHook([self](HWND, const char* text, const char*, UINT) {
        self->lastMessage_ = text != nullptr ? text : "";
        std::fprintf(stderr, "\ntalrec: %s\n", TerminalText(self->lastMessage_).c_str());
        return IDOK;
    });
    // Loop thread (the control fires its events there).
    session->container_->Connect([self](const std::string& name, const nlohmann::json& args) {
        if (self->onEvent) self->onEvent(name, args);
    });
    session->container_->CreateControlWindow();
    {
        std::lock_guard lock(g_mutex);
        g_session = self;
        g_poster = session->loop_.GetPoster();
    }
    return session;
}

CliSession::~CliSession() {
    {
        std::lock_guard lock(g_mutex);
        g_session = nullptr;
        g_poster.reset();
    }
    SetMessageBoxHook({});
    if (container_) {
        container_->DestroyControlWindow();
        container_.reset();
    }
    CoUninitialize();
}

CallResult CliSession::Call(const std::string& name, const nlohmann::json& params) {
    return container_->Call(name, params, 0x0409);
}

long CliSession::CallNumber(const std::string& name, const nlohmann::json& params, long failed) {
    CallResult result = Call(name, params);
    if (FAILED(result.hr) || result.badParams || !result.result.is_number()) return failed;
    return result.result.get<long>();
}

int CliSession::Run() {
    std::atomic<bool> done{false};
    MessageLoop::Poster poster = loop_.GetPoster();
    // Key thread: waits for key presses (50 ms at a time) and posts them with a tick.
    std::thread keys([this, &done, poster] {
        while (!done.load()) {
            int key = platform::ConsoleKeys::kNone;
            if (inputEnded_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            } else {
                key = keys_.Read(50);
                if (key == platform::ConsoleKeys::kEnd) inputEnded_ = true;
            }
            if (key >= 0) {
                poster.Post([this, key] {
                    if (onKey) onKey(key);
                });
            }
            poster.Post([this] {
                if (onTick) onTick();
            });
        }
    });
    int code = loop_.Run();
    done.store(true);
    keys.join();
    return code;
}

}  // namespace talrec::host
