// talrec serve: the browser bridge (host/Bridge.h) on the main thread's message loop. Prints
// the address to open, writes serve.json for other programs into a folder of the user's own,
// and on SIGINT or SIGTERM closes every connection, removes its serve.json and exits 0. Started
// by a service manager with its listening sockets, it serves those, and stops the same way after
// a quiet spell without any connection, to be started again by the next one.
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/Commands.h"
#include "host/bridge/Bridge.h"
#include "host/bridge/BridgePolicy.h"
#include "host/common/ControlClass.h"
#include "host/common/DebugRoute.h"
#include "host/common/Pairings.h"
#include "host/common/TerminalText.h"
#include "host/rpc/RpcSession.h"
#include "platform/consoleapi.h"
#include "platform/ext/activation.h"
#include "platform/ext/console.h"
#include "platform/ext/messageloop.h"
#include "platform/ext/privatefolder.h"
#include "platform/objbase.h"
#include "platform/processthreadsapi.h"
#include "platform/shlobj.h"
#include "platform/winuser.h"

namespace talrec::host {
namespace {

namespace fs = std::filesystem;

constexpr Option kOptions[] = {{"--port", "N"}, {"--allow-origin", "ORIGIN"}};

std::mutex g_mutex;  // guards g_poster
std::optional<MessageLoop::Poster> g_poster;
Bridge* g_bridge = nullptr;  // read on the loop's thread only

// On the platform's signal thread: asks the loop to stop the bridge.
BOOL WINAPI OnControlEvent(DWORD) {
    std::lock_guard lock(g_mutex);
    if (!g_poster) return FALSE;
    MessageLoop::Poster poster = *g_poster;
    g_poster->Post([poster] {
        if (g_bridge == nullptr) return;
        g_bridge->Stop([poster] { poster.Quit(0); });
    });
    return TRUE;
}

// Asks the loop to stop the bridge, as a signal does; on the loop's thread.
void StopWhenIdle() {
    std::fprintf(stderr, "talrec serve: no connection for a while; stopping until the next one\n");
    std::optional<MessageLoop::Poster> poster;
    {
        std::lock_guard lock(g_mutex);
        poster = g_poster;
    }
    if (!poster || g_bridge == nullptr) return;
    g_bridge->Stop([poster = *poster] { poster.Quit(0); });
}

// `fallback`, or for tests the whole number of seconds (1 to `most`) the variable `name` gives.
std::chrono::milliseconds SecondsFromEnvironment(const char* name, std::chrono::seconds fallback,
                                                 long most) {
    std::chrono::milliseconds time = fallback;
    if (const char* text = std::getenv(name); text && *text) {
        char* end = nullptr;
        const long seconds = std::strtol(text, &end, 10);
        if (*end == '\0' && seconds > 0 && seconds <= most) time = std::chrono::seconds(seconds);
    }
    return time;
}

// How long a bridge started by the service manager waits for a connection before it stops:
// 10 minutes, or TALREC_SERVE_IDLE_SECONDS (for tests).
std::chrono::milliseconds IdleTime() {
    return SecondsFromEnvironment("TALREC_SERVE_IDLE_SECONDS", std::chrono::minutes(10), 86400);
}

constexpr char kStateFile[] = "serve.json";

// The state another bridge left in the folder, when that bridge still runs.
std::optional<nlohmann::json> RunningBridge(const talrec::platform::PrivateFolder& folder) {
    std::optional<std::string> text = folder.Read(kStateFile);
    if (!text) return std::nullopt;
    nlohmann::json state = nlohmann::json::parse(*text, nullptr, false);
    if (!state.is_object() || !state.contains("pid") || !state["pid"].is_number_unsigned() ||
        !state.contains("port") || !state["port"].is_number_unsigned()) {
        return std::nullopt;
    }
    const auto pid = state["pid"].get<unsigned long>();
    if (pid == GetCurrentProcessId() || !talrec::platform::ProcessRuns(pid)) return std::nullopt;
    return state;
}

int RunServe(const Arguments& arguments) {
    // First of all, as it changes the environment.
    std::string error;
    std::optional<std::vector<int> > sockets = talrec::platform::ActivatedSockets(error);
    if (!sockets) {
        std::fprintf(stderr, "talrec serve: %s\n", TerminalText(error).c_str());
        return 1;
    }
    // Before any thread starts, so that every thread leaves the signals to the platform's.
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
    BridgeOptions options;
    options.progId = kControlProgId;
    if (auto text = arguments.Value("--port")) {
        char* end = nullptr;
        long port = std::strtol(text->c_str(), &end, 10);
        if (end == text->c_str() || *end != '\0' || port < 0 || port > 65535) {
            std::fprintf(stderr, "talrec serve: --port takes a number from 0 to 65535\n");
            return 2;
        }
        options.port = static_cast<std::uint16_t>(port);
    }
    for (const std::string& text : arguments.Values("--allow-origin")) {
        std::optional<std::string> origin = NormalizeOrigin(text);
        if (!origin) {
            std::fprintf(stderr, "talrec serve: --allow-origin takes scheme://host[:port]\n");
            return 2;
        }
        options.allowedOrigins.push_back(*origin);
    }
    std::setlocale(LC_ALL, "");
    if (!sockets->empty()) {
        options.sockets = std::move(*sockets);
        options.limits.idleTimeout = IdleTime();
        options.onIdle = StopWhenIdle;
    }
    options.token = NewToken();
    options.pairingsFolder = PairingStore::DefaultFolder();
    // A file's ticket holds 60 s; TALREC_TICKET_SECONDS (for tests) can only shorten it.
    options.ticketLifetime =
        SecondsFromEnvironment("TALREC_TICKET_SECONDS", std::chrono::seconds(60), 60);
    NoteWaitingRecordings("serve");

    // The token is written only into a folder no other user can read or change.
    std::unique_ptr<talrec::platform::PrivateFolder> folder =
        talrec::platform::PrivateFolder::Open(ServeStateFolder(), error);
    if (!folder) {
        std::fprintf(stderr,
                     "talrec serve: %s; remove it, or set XDG_RUNTIME_DIR to a folder of your "
                     "own\n",
                     TerminalText(error).c_str());
        return 1;
    }
    CoInitialize(nullptr);
    int status = 1;
    bool wrote = false;
    {
        MessageLoop loop;
        Bridge bridge(options);
        if (bridge.Start(error)) {
            // A box raised outside any call (none is, today) has no page to go to.
            RpcSession::InstallMessageBoxRoute([](const std::string& text) {
                std::fprintf(stderr, "talrec serve: message box: %s\n", TerminalText(text).c_str());
            });
            // What the controls write to standard output is the bridge's to hand on; the
            // address goes to the real standard output.
            std::FILE* out = talrec::platform::CaptureStandardOutput();
            if (out == nullptr) out = stdout;
            nlohmann::ordered_json state = {
                {"port", bridge.Port()},
                {"token", options.token},
                {"pid", static_cast<unsigned long>(GetCurrentProcessId())}};
            // From here a signal stops the loop, so serve.json is removed however the run ends.
            g_bridge = &bridge;
            {
                std::lock_guard lock(g_mutex);
                g_poster = loop.GetPoster();
            }
            wrote = folder->Write(kStateFile, state.dump() + "\n", error);
            if (wrote) {
                std::fprintf(out, "http://127.0.0.1:%u/#code=%s\n",
                             static_cast<unsigned>(bridge.Port()), bridge.NewCode().c_str());
                std::fflush(out);
                status = loop.Run();
            } else {
                std::fprintf(stderr, "talrec serve: %s\n", TerminalText(error).c_str());
            }
            {
                std::lock_guard lock(g_mutex);
                g_poster.reset();
            }
            g_bridge = nullptr;
            RpcSession::RemoveMessageBoxRoute();
        } else if (std::optional<nlohmann::json> other = RunningBridge(*folder);
                   options.sockets.empty() && options.port != 0 && other &&
                   (*other)["port"] == options.port) {
            std::fprintf(stderr,
                         "talrec serve: a talrec bridge, pid %lu, already listens on "
                         "127.0.0.1:%u\n",
                         (*other)["pid"].get<unsigned long>(), static_cast<unsigned>(options.port));
        } else {
            std::fprintf(stderr, "talrec serve: %s\n", TerminalText(error).c_str());
        }
    }
    // Only its own: another bridge may have written its state since.
    if (wrote) {
        std::optional<std::string> now = folder->Read(kStateFile);
        nlohmann::json state = nlohmann::json::parse(now.value_or(""), nullptr, false);
        if (state.is_object() && state.contains("token") && state["token"] == options.token) {
            folder->Remove(kStateFile);
        }
    }
    CoUninitialize();
    return status;
}

}  // namespace

std::string ServeStateFolder() {
#ifdef _WIN32
    // Windows has neither variable below: the user's local application data.
    char local[MAX_PATH];
    if (SHGetSpecialFolderPathA(nullptr, local, CSIDL_LOCAL_APPDATA, TRUE)) {
        return (fs::path(local) / "talrec").string();
    }
#endif
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        return (fs::path(runtime) / "talrec").string();
    }
    const char* home = std::getenv("HOME");
    return (fs::path(home != nullptr ? home : ".") / ".cache" / "talrec").string();
}

const Command kServeCommand = {
    "serve",
    "[--port N] [--allow-origin ORIGIN]...",
    "the browser bridge: a web page drives the control",
    "  The browser bridge: HTTP and WebSocket on the loopback address. A page drives\n"
    "  the control through ws://127.0.0.1:PORT/rpc with the same JSON-RPC as\n"
    "  'talrec host'; / is a demo page, /talrec.js the client module. --port 0 picks a\n"
    "  free port (default 47615); --allow-origin lets pages of another origin\n"
    "  (scheme://host[:port]) connect. Prints the address to open, with a one-time\n"
    "  code (one use, within 60 s) that the demo page exchanges for the run's token,\n"
    "  which it never shows; 'talrec open' opens the page with a fresh code. The run's\n"
    "  token is in serve.json ($XDG_RUNTIME_DIR/talrec). Pages of other origins pair\n"
    "  through /pair (with the user's consent) or 'talrec pair'. Scripts reach the\n"
    "  data folder only. Ctrl-C or SIGTERM stops it.\n"
    "  To have it always at hand, started on demand by systemd from the installed\n"
    "  user units (talrec.socket, 127.0.0.1 and [::1] port 47615), type once:\n"
    "    systemctl --user enable --now talrec.socket\n"
    "  Started that way it serves the sockets systemd hands over (--port is not used)\n"
    "  and exits after 10 minutes without a connection.\n",
    kOptions,
    0,
    0,
    RunServe};

}  // namespace talrec::host
