// talrec serve: the browser bridge (host/Bridge.h) on the main thread's message loop. Prints
// the address to open, writes serve.json for other programs, and on SIGINT or SIGTERM closes
// every connection, removes serve.json and exits 0.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>

#include "host/Commands.h"
#include "host/bridge/Bridge.h"
#include "host/bridge/BridgePolicy.h"
#include "host/common/ControlClass.h"
#include "host/common/DebugRoute.h"
#include "host/rpc/RpcSession.h"
#include "platform/consoleapi.h"
#include "platform/ext/messageloop.h"
#include "platform/objbase.h"
#include "platform/processthreadsapi.h"
#include "platform/winuser.h"

namespace talrec::host {
namespace {

namespace fs = std::filesystem;

constexpr Option kOptions[] = {{"--port", "N"}, {"--allow-origin", "ORIGIN"}};

std::mutex g_mutex;  // guards g_poster
std::optional<MessageLoop::Poster> g_poster;
Bridge* g_bridge = nullptr;  // read on the loop's thread only

// On the platform's signal thread: asks the loop to stop the bridge.
BOOL OnControlEvent(DWORD) {
    std::lock_guard lock(g_mutex);
    if (!g_poster) return FALSE;
    MessageLoop::Poster poster = *g_poster;
    g_poster->Post([poster] {
        if (g_bridge == nullptr) return;
        g_bridge->Stop([poster] { poster.Quit(0); });
    });
    return TRUE;
}

fs::path StateFile() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        return fs::path(runtime) / "talrec" / "serve.json";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : ".") / ".cache" / "talrec" / "serve.json";
}

// Written to a private temporary file and renamed, so no reader sees it half written or with
// other permissions than the owner's.
bool WriteStateFile(const fs::path& file, const std::string& text, std::string& error) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    fs::permissions(file.parent_path(), fs::perms::owner_all, fs::perm_options::replace, ec);
    fs::path temporary = file;
    temporary += ".tmp";
    fs::remove(temporary, ec);
    {
        std::ofstream create(temporary, std::ios::binary);
        if (!create) {
            error = "cannot write " + temporary.string();
            return false;
        }
    }
    fs::permissions(temporary, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace, ec);
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text << "\n";
    out.close();
    if (ec || !out) {
        error = "cannot write " + temporary.string();
        fs::remove(temporary, ec);
        return false;
    }
    fs::rename(temporary, file, ec);
    if (ec) {
        error = "cannot write " + file.string() + ": " + ec.message();
        return false;
    }
    return true;
}

int RunServe(const Arguments& arguments) {
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
    options.token = NewToken();
    NoteWaitingRecordings("serve");

    CoInitialize(nullptr);
    int status = 0;
    fs::path stateFile = StateFile();
    {
        MessageLoop loop;
        // The platform's debug output (a device that does not open, a file that cannot be
        // played) as a line on stderr: a page sees failures only through their missing effect.
        DebugRoute debug(loop, [](const std::string& text) {
            std::fprintf(stderr, "talrec serve: %s\n", text.c_str());
        });
        Bridge bridge(options);
        std::string error;
        if (!bridge.Start(error)) {
            std::fprintf(stderr, "talrec serve: %s\n", error.c_str());
            CoUninitialize();
            return 1;
        }
        // A box raised outside any call (none is, today) has no page to go to.
        RpcSession::InstallMessageBoxRoute([](const std::string& text) {
            std::fprintf(stderr, "talrec serve: message box: %s\n", text.c_str());
        });
        const std::string port = std::to_string(bridge.Port());
        nlohmann::ordered_json state = {{"port", bridge.Port()},
                                        {"token", options.token},
                                        {"pid", static_cast<long long>(GetCurrentProcessId())}};
        // From here a signal stops the loop, so serve.json is removed however the run ends.
        g_bridge = &bridge;
        {
            std::lock_guard lock(g_mutex);
            g_poster = loop.GetPoster();
        }
        if (!WriteStateFile(stateFile, state.dump(), error)) {
            std::fprintf(stderr, "talrec serve: %s\n", error.c_str());
            std::lock_guard lock(g_mutex);
            g_poster.reset();
            g_bridge = nullptr;
            RpcSession::RemoveMessageBoxRoute();
            CoUninitialize();
            return 1;
        }
        std::printf("http://127.0.0.1:%s/#token=%s\n", port.c_str(), options.token.c_str());
        std::fflush(stdout);
        status = loop.Run();
        {
            std::lock_guard lock(g_mutex);
            g_poster.reset();
        }
        g_bridge = nullptr;
        RpcSession::RemoveMessageBoxRoute();
    }
    std::error_code ec;
    fs::remove(stateFile, ec);
    CoUninitialize();
    return status;
}

}  // namespace

const Command kServeCommand = {
    "serve",
    "[--port N] [--allow-origin ORIGIN]...",
    "the browser bridge: a web page drives the control",
    "  The browser bridge: HTTP and WebSocket on the loopback address. A page drives\n"
    "  the control through ws://127.0.0.1:PORT/rpc with the same JSON-RPC as\n"
    "  'talrec host'; / is a demo page, /talrec.js the client module. --port 0 picks a\n"
    "  free port (default 47615); --allow-origin lets pages of another origin\n"
    "  (scheme://host[:port]) connect. Prints the address to open, with the run's\n"
    "  token; scripts reach the data folder only. Ctrl-C or SIGTERM stops it.\n",
    kOptions,
    0,
    0,
    RunServe};

}  // namespace talrec::host
