#include "host/bridge/Bridge.h"

#include <cstdio>
#include <filesystem>
#include <set>

#include "control/StateStrings.h"
#include "host/bridge/BridgeFiles.h"
#include "host/bridge/BridgePairing.h"
#include "host/bridge/BridgePolicy.h"
#include "host/bridge/WebAssets.h"
#include "host/common/ComContainer.h"
#include "host/common/DebugRoute.h"
#include "host/common/Pairings.h"
#include "host/common/Sha256.h"
#include "host/common/TerminalText.h"
#include "host/rpc/RpcSession.h"
#include "platform/ext/console.h"
#include "platform/oaidl.h"
#include "platform/winuser.h"
#include "storage/DataFolder.h"

namespace talrec::host {

using platform::HttpRequest;
using platform::HttpResponse;

namespace {

namespace states = talrec::states;

// Names are looked up as the type library gives them, as in `talrec host`.
constexpr LCID kLcid = 0x0409;

HttpResponse Plain(int status, const std::string& text) {
    HttpResponse response;
    response.status = status;
    response.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
    response.body = text + "\n";
    return response;
}

constexpr char kTimerClass[] = "talrec.bridge.pairings";

// The pairings timer's window: each tick runs the bridge's check.
LRESULT TimerWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return 0;
    }
    if (message == WM_TIMER) {
        if (auto* bridge = reinterpret_cast<Bridge*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))) {
            bridge->CheckPairings();
        }
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

// Tells standard error whenever a page records, pauses, resumes or stops: recording the
// microphone is never silent to the user. Follows the control's state strings, so it sees
// what the page sees. The origin and the file are the page's words: they are shown escaped.
class RecordingNotice {
  public:
    // `stops`: the dispatch ids of the members that end a recording without "record-stop"
    // when its file cannot be written (recStop, RecordStop).
    RecordingNotice(std::string origin, std::set<DISPID> stops)
        : origin_(std::move(origin)), stops_(std::move(stops)) {}

    void OnEvent(const std::string& event, const nlohmann::json& args, const Request* during) {
        if (event != "RecorderStateNotify" || args.empty() || !args[0].is_string()) return;
        const std::string state = args[0].get<std::string>();
        if (state == states::kRecordStart) {
            file_ = "(unknown file)";
            if (during != nullptr && !during->params.empty()) {
                const auto& path = during->params[0];
                file_ = path.is_string() ? path.get<std::string>() : path.dump();
            }
            Say("records into " + file_);
            state_ = State::Recording;
        } else if (state == states::kRecordPause && state_ != State::Idle) {
            state_ = state_ == State::Recording ? State::Paused : State::Recording;
            Say(state_ == State::Paused ? "paused recording into " + file_
                                        : "resumed recording into " + file_);
        } else if (state == states::kRecordResume && state_ == State::Paused) {
            state_ = State::Recording;
            Say("resumed recording into " + file_);
        } else if (state == states::kRecordStop) {
            Stopped();
        } else if ((state == states::kPlayStart || state == states::kPlayResume) &&
                   state_ == State::Recording) {
            Stopped();  // a playback ends a running recording and writes it
        }
    }

    // A stop whose file could not be written ends the recording all the same.
    void OnCall(const CallResult& result) {
        if (stops_.count(result.dispid) != 0 && FAILED(result.hr)) {
            Stopped();
        }
    }

    // The connection ended while recording: the page closed, or the bridge is stopping. What
    // becomes of the take the control says itself, on the debug output.
    void OnDisconnect(bool bridgeStopping) {
        if (state_ != State::Idle) {
            Say(bridgeStopping ? "was recording into " + file_ + " as the bridge stopped"
                               : "closed the page while recording into " + file_);
        }
        state_ = State::Idle;
    }

  private:
    enum class State { Idle, Recording, Paused };

    void Stopped() {
        if (state_ != State::Idle) Say("stopped recording into " + file_);
        state_ = State::Idle;
    }
    void Say(const std::string& what) {
        std::fprintf(stderr, "talrec serve: %s\n", TerminalText(origin_ + " " + what).c_str());
        std::fflush(stderr);
    }

    std::string origin_;
    std::set<DISPID> stops_;
    std::string file_;
    State state_ = State::Idle;
};

struct Bridge::Client {
    std::uint64_t id = 0;
    // For a connection opened with a pairing's token: its origin and the token's digest.
    std::string pairedOrigin;
    std::string pairedDigest;
    bool revoked = false;
    std::unique_ptr<RpcSession> session;
    std::unique_ptr<RecordingNotice> notice;
};

Bridge::Bridge(BridgeOptions options)
    : options_(std::move(options)),
      pairing_(std::make_unique<BridgePairing>(options_.token, options_.pairingsFolder)) {}

Bridge::~Bridge() {
    // Each control leaves the table before it is destroyed, so that what it says on the way
    // goes to standard error only.
    while (!clients_.empty()) {
        auto node = clients_.extract(clients_.begin());
        node.mapped()->notice->OnDisconnect(stopping_);
        Destroy(std::move(node.mapped()));
    }
    for (auto& client : closed_) Destroy(std::move(client));
    closed_.clear();
    server_.reset();
    if (timer_ != nullptr) {
        DestroyWindow(timer_);
        UnregisterClassA(kTimerClass, nullptr);
    }
}

void Bridge::Destroy(std::unique_ptr<Client> client) {
    const DebugOwner owner(client->id);
    client.reset();
}

void Bridge::ShowDebug(const std::string& text, ULONGLONG owner) {
    std::fprintf(stderr, "talrec serve: %s\n", TerminalText(text).c_str());
    std::fflush(stderr);
    auto it = owner != 0 ? clients_.find(owner) : clients_.end();
    if (it != clients_.end()) {
        it->second->session->Notify("host.debug", nlohmann::json::array({text}));
    }
}

void Bridge::ShowWrittenOutput(ULONGLONG owner) {
    const std::string written = platform::TakeCapturedOutput();
    std::size_t at = 0;
    while (at < written.size()) {
        std::size_t end = written.find('\n', at);
        if (end == std::string::npos) end = written.size();
        if (end > at) ShowDebug(written.substr(at, end - at), owner);
        at = end + 1;
    }
}

bool Bridge::Start(std::string& error) {
    if (MessageLoop::Current() == nullptr) {
        error = "no message loop on this thread";
        return false;
    }
    if (!debug_) {
        debug_ = std::make_unique<DebugRoute>(
            *MessageLoop::Current(),
            [this](const std::string& text, ULONGLONG owner) { ShowDebug(text, owner); });
    }
    platform::LoopServerHandlers handlers;
    handlers.onRequest = [this](const HttpRequest& r) { return OnRequest(r); };
    handlers.onUpgrade = [this](const HttpRequest& r) { return OnUpgrade(r); };
    handlers.onOpen = [this](std::uint64_t id, const HttpRequest& r) { OnOpen(id, r); };
    handlers.onText = [this](std::uint64_t id, std::string text) { OnText(id, std::move(text)); };
    handlers.onBinary = [this](std::uint64_t id, std::string) {
        server_->Close(id, platform::kCloseUnsupportedData, "JSON-RPC comes in text messages");
    };
    handlers.onClose = [this](std::uint64_t id, std::uint16_t code) { OnClose(id, code); };
    handlers.onIdle = options_.onIdle;
    server_ = options_.sockets.empty()
                  ? platform::LoopServer::Start(options_.port, std::move(handlers), options_.limits,
                                                error)
                  : platform::LoopServer::Adopt(options_.sockets, std::move(handlers),
                                                options_.limits, error);
    if (server_ == nullptr) return false;
    CheckPairings();
    if (!options_.pairingsFolder.empty() && timer_ == nullptr) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = TimerWindowProc;
        wc.lpszClassName = kTimerClass;
        RegisterClassA(&wc);
        timer_ = CreateWindowExA(0, kTimerClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 this);
        if (timer_ != nullptr) SetTimer(timer_, 1, 1000, nullptr);
    }
    return true;
}

std::uint16_t Bridge::Port() const {
    return server_ ? server_->Port() : 0;
}

std::string Bridge::NewCode() {
    return pairing_->NewCode();
}

void Bridge::Stop(std::function<void()> done) {
    stopping_ = true;
    server_->Stop(platform::kCloseGoingAway, std::chrono::seconds(3), std::move(done));
}

void Bridge::CheckPairings() {
    // The folder is made by the first pairing, not by the bridge.
    if (!pairings_ && !pairingsRefused_ && !options_.pairingsFolder.empty() &&
        std::filesystem::is_directory(options_.pairingsFolder)) {
        std::string why;
        pairings_ = PairingStore::Open(options_.pairingsFolder, why);
        if (!pairings_) {
            pairingsRefused_ = true;
            std::fprintf(stderr, "talrec serve: %s; paired origins are not accepted\n",
                         TerminalText(why).c_str());
        }
    }
    if (!pairings_) return;
    pairings_->Refresh();
    for (auto& [id, client] : clients_) {
        if (client->pairedOrigin.empty() || client->revoked) continue;
        std::optional<Pairing> pairing = pairings_->Find(client->pairedOrigin);
        if (!pairing || pairing->tokenSha256 != client->pairedDigest) {
            client->revoked = true;
            server_->Close(id, kCloseRevoked, "the origin's pairing was revoked");
        }
    }
}

std::optional<std::string> Bridge::PairedOrigin(const HttpRequest& request) const {
    std::optional<std::string> origin = request.Header("Origin");
    if (!pairings_ || !origin) return std::nullopt;
    origin = NormalizeWebOrigin(*origin);
    if (!origin || !pairings_->Find(*origin)) return std::nullopt;
    return origin;
}

// The three checks, in order: Host (403), Origin (403), token (401). An address the bridge
// does not serve needs no token: it is answered 404 after the first two. The run's token holds
// for the origins allowed at start (and requests without an Origin); a pairing's token only
// with its own origin.
std::optional<HttpResponse> Bridge::Refusal(const HttpRequest& request, bool needsToken) {
    const std::uint16_t port = server_->Port();
    if (!IsLoopbackHost(request.Header("Host"), port)) return Plain(403, "forbidden host");
    CheckPairings();
    const bool allowed = IsAllowedOrigin(request.Header("Origin"), port, options_.allowedOrigins);
    const std::optional<std::string> paired = PairedOrigin(request);
    if (!allowed && !paired) return Plain(403, "forbidden origin");
    if (needsToken) {
        std::optional<std::string> token = QueryParam(request.target, "token");
        const bool runToken = token && allowed && TokenMatches(*token, options_.token);
        if (!runToken && !(token && paired && pairings_->Verify(*paired, *token))) {
            return Plain(401, "token required");
        }
    }
    return std::nullopt;
}

HttpResponse Bridge::OnRequest(const HttpRequest& request) {
    const std::string path(TargetPath(request.target));
    const WebAsset* asset = FindWebAsset(path);
    const bool files = path == "/files" || path.rfind("/files/", 0) == 0;
    std::optional<HttpResponse> refused = Refusal(request, files || path == "/rpc");
    HttpResponse response;
    if (refused) {
        response = std::move(*refused);
    } else if (auto answer = pairing_->Answer(request, server_->Port())) {
        response = std::move(*answer);
    } else if (request.method != "GET" && request.method != "HEAD") {
        response = Plain(405, "method not allowed");
        response.headers.emplace_back("Allow", "GET, HEAD");
    } else if (asset != nullptr) {
        response.headers = {{"Content-Type", std::string(asset->contentType)}};
        response.body = std::string(asset->bytes);
        if (path == "/") {
            response.headers.emplace_back("Content-Security-Policy", "frame-ancestors 'none'");
        }
    } else if (path == "/files") {
        response = ListDataFiles(ComputeDataFolder());
    } else if (files) {
        std::optional<std::string> name = PercentDecode(path.substr(7));
        response = name ? ServeDataFile(ComputeDataFolder(), *name, request.Header("Range"))
                        : Plain(404, "not found");
    } else if (path == "/rpc") {
        response = Plain(426, "WebSocket upgrade required");
        response.headers.emplace_back("Upgrade", "websocket");
    } else {
        response = Plain(404, "not found");
    }
    response.headers.emplace_back("Cache-Control", "no-store");
    response.headers.emplace_back("X-Content-Type-Options", "nosniff");
    // A page of an allowed origin may read what it fetched.
    if (!refused) {
        if (auto origin = request.Header("Origin")) {
            response.headers.emplace_back("Access-Control-Allow-Origin", *origin);
            response.headers.emplace_back("Vary", "Origin");
        }
    }
    return response;
}

std::optional<HttpResponse> Bridge::OnUpgrade(const HttpRequest& request) {
    const bool rpc = TargetPath(request.target) == "/rpc";
    if (auto refused = Refusal(request, rpc)) return refused;
    if (!rpc) return Plain(404, "not found");
    return std::nullopt;
}

void Bridge::OnOpen(std::uint64_t id, const HttpRequest& request) {
    std::string error;
    const DebugOwner owner(id);
    std::unique_ptr<ComContainer> container = ComContainer::Create(options_.progId, error);
    if (!container) {
        std::fprintf(stderr, "talrec serve: %s\n", TerminalText(error).c_str());
        server_->Close(id, platform::kCloseInternalError, "the control cannot be created");
        return;
    }
    auto client = std::make_unique<Client>();
    client->id = id;
    // Opened with a pairing's token: bound to that pairing for as long as it lasts.
    std::optional<std::string> token = QueryParam(request.target, "token");
    if (std::optional<std::string> paired = PairedOrigin(request);
        paired &&
        !(token && TokenMatches(*token, options_.token) &&
          IsAllowedOrigin(request.Header("Origin"), server_->Port(), options_.allowedOrigins))) {
        client->pairedOrigin = *paired;
        client->pairedDigest = Sha256Hex(token.value_or(""));
    }
    client->notice = std::make_unique<RecordingNotice>(
        request.Header("Origin").value_or("a client without origin"),
        std::set<DISPID>{container->DispatchId("recStop", kLcid),
                         container->DispatchId("RecordStop", kLcid)});
    platform::LoopServer* server = server_.get();
    client->session = std::make_unique<RpcSession>(
        std::move(container), kLcid,
        [server, id](const std::string& message) { server->Send(id, message); });
    RecordingNotice* notice = client->notice.get();
    RpcSession* session = client->session.get();
    session->onEvent = [notice, session](const std::string& event, const nlohmann::json& args) {
        notice->OnEvent(event, args, session->Current());
    };
    // After each call, before its reply: what it wrote to standard output (a conversion's
    // diagnostic lines) is the calling page's.
    session->onCall = [this, notice, id](const Request&, const CallResult& result) {
        ShowWrittenOutput(id);
        notice->OnCall(result);
    };
    clients_.emplace(id, std::move(client));
    CheckPairings();  // replaced or revoked since the upgrade was accepted
    // In-place activation: the control's window, and with it its recorder.
    ++handling_;
    session->Container().CreateControlWindow();
    --handling_;
    Reap();
}

void Bridge::OnText(std::uint64_t id, std::string text) {
    auto it = clients_.find(id);
    if (it == clients_.end() || it->second->revoked) return;  // revoked: nothing more is done
    ShowWrittenOutput(0);                                     // written outside any call: nobody's
    const DebugOwner owner(id);
    ++handling_;
    it->second->session->Handle(text);
    --handling_;
    Reap();
}

void Bridge::OnClose(std::uint64_t id, std::uint16_t) {
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    std::unique_ptr<Client> client = std::move(it->second);
    clients_.erase(it);
    client->notice->OnDisconnect(stopping_);
    if (handling_ > 0) {
        closed_.push_back(std::move(client));  // its own call is still running
    } else {
        Destroy(std::move(client));  // its window closed, its control released
    }
}

void Bridge::Reap() {
    if (handling_ > 0) return;
    for (auto& client : closed_) Destroy(std::move(client));
    closed_.clear();
}

}  // namespace talrec::host
