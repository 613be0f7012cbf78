#include "host/bridge/Bridge.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
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

HttpResponse NotAllowed(const std::string& methods) {
    HttpResponse response = Plain(405, "method not allowed");
    response.headers.emplace_back("Allow", methods);
    return response;
}

HttpResponse Asset(const WebAsset& asset) {
    HttpResponse response;
    response.headers = {{"Content-Type", std::string(asset.contentType)}};
    response.body = std::string(asset.bytes);
    return response;
}

// The answer to a CORS preflight that is let through, for `origin` ("*" or the exact one).
HttpResponse Preflighted(const HttpRequest& request, const std::string& origin) {
    HttpResponse response;
    response.status = 204;
    response.headers = {{"Access-Control-Allow-Origin", origin},
                        {"Access-Control-Allow-Methods", "GET, HEAD, POST, OPTIONS"},
                        {"Access-Control-Allow-Headers", "Authorization, Content-Type"},
                        {"Access-Control-Max-Age", "600"}};
    if (origin != "*") response.headers.emplace_back("Vary", "Origin");
    // Browsers that still ask before a public page reaches a private address.
    if (request.Header("Access-Control-Request-Private-Network")) {
        response.headers.emplace_back("Access-Control-Allow-Private-Network", "true");
    }
    return response;
}

// "attachment" with the name in both forms browsers read: plain ASCII (anything else as "_")
// and UTF-8, percent-encoded.
std::string Attachment(const std::string& name) {
    std::string ascii, encoded;
    for (unsigned char c : name) {
        const bool plain = std::isalnum(c) || std::strchr("-._~", c) != nullptr;
        ascii += plain || c == ' ' ? static_cast<char>(c) : '_';
        if (plain) {
            encoded += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            encoded += hex;
        }
    }
    return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + encoded;
}

// The subprotocol the client speaks, and the prefix of the one that carries its token.
constexpr char kSubprotocol[] = "talrec";
constexpr std::string_view kTokenProtocol = "talrec.token.";

// Every subprotocol an upgrade request offers, from all its Sec-WebSocket-Protocol headers.
std::set<std::string> SocketProtocols(const HttpRequest& request) {
    std::set<std::string> out;
    for (const auto& [name, value] : request.headers) {
        if (strcasecmp(name.c_str(), "Sec-WebSocket-Protocol") != 0) continue;
        std::size_t at = 0;
        while (at <= value.size()) {
            std::size_t comma = std::min(value.find(',', at), value.size());
            std::string item = value.substr(at, comma - at);
            item.erase(0, item.find_first_not_of(" \t"));
            item.erase(item.find_last_not_of(" \t") + 1);
            if (!item.empty()) out.insert(item);
            at = comma + 1;
        }
    }
    return out;
}

// The token of an HTTP request: "Authorization: Bearer TOKEN".
std::optional<std::string> BearerToken(const HttpRequest& request) {
    std::optional<std::string> value = request.Header("Authorization");
    if (!value || value->size() <= 7 || strncasecmp(value->c_str(), "Bearer ", 7) != 0) {
        return std::nullopt;
    }
    return value->substr(7);
}

// The token of a WebSocket upgrade: the subprotocol "talrec.token.TOKEN", else, from older
// clients, "?token=".
std::optional<std::string> SocketToken(const HttpRequest& request) {
    for (const std::string& protocol : SocketProtocols(request)) {
        if (protocol.rfind(kTokenProtocol, 0) == 0) return protocol.substr(kTokenProtocol.size());
    }
    return QueryParam(request.target, "token");
}

constexpr char kTimerClass[] = "talrec.bridge.pairings";

// The pairings timer's window: each tick runs the bridge's check.
LRESULT CALLBACK TimerWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
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
      tickets_(options_.ticketLifetime),
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

bool Bridge::TokenHolds(const HttpRequest& request, const std::optional<std::string>& token) {
    if (!token) return false;
    if (IsAllowedOrigin(request.Header("Origin"), server_->Port(), options_.allowedOrigins) &&
        TokenMatches(*token, options_.token)) {
        return true;
    }
    std::optional<std::string> paired = PairedOrigin(request);
    return paired && pairings_->Verify(*paired, *token);
}

// The checks after Host, in order: Origin (403), then, where `access` asks for it, a token
// valid for that origin or a ticket for the file asked for (401). An address the bridge does
// not serve needs no token: it is answered 404 once the origin passes.
std::optional<HttpResponse> Bridge::Refusal(const HttpRequest& request, Access access,
                                            const std::optional<std::string>& file) {
    CheckPairings();
    if (!IsAllowedOrigin(request.Header("Origin"), server_->Port(), options_.allowedOrigins) &&
        !PairedOrigin(request)) {
        return Plain(403, "forbidden origin");
    }
    if (access == Access::Open) return std::nullopt;
    const bool socket = access == Access::SocketToken;
    if (TokenHolds(request, socket ? SocketToken(request) : BearerToken(request))) {
        return std::nullopt;
    }
    std::optional<std::string> ticket = QueryParam(request.target, "ticket");
    if (access == Access::TokenOrTicket && file && ticket && tickets_.Opens(*ticket, *file)) {
        return std::nullopt;
    }
    HttpResponse refused = Plain(401, "token required");
    if (!socket) refused.headers.emplace_back("WWW-Authenticate", "Bearer");
    return refused;
}

HttpResponse Bridge::OnRequest(const HttpRequest& request) {
    const std::string path(TargetPath(request.target));
    HttpResponse response;
    if (!IsLoopbackHost(request.Header("Host"), server_->Port())) {
        response = Plain(403, "forbidden host");
    } else if (IsPublicPath(path)) {
        response = Public(request, path);
    } else if (request.method == "OPTIONS") {
        response = Preflight(request);
    } else {
        response = Guarded(request, path);
    }
    response.headers.emplace_back("Cache-Control", "no-store");
    response.headers.emplace_back("X-Content-Type-Options", "nosniff");
    return response;
}

bool Bridge::IsPublicPath(const std::string& path) {
    return path == "/hello" || path == "/talrec.js" || path == "/talrec.d.ts" ||
           path == "/members.js" || path == "/members.d.ts";
}

// What any page may read: the client, its types, and whether the bridge runs. Nothing secret.
HttpResponse Bridge::Public(const HttpRequest& request, const std::string& path) {
    if (request.method == "OPTIONS") return Preflighted(request, "*");
    HttpResponse response = request.method != "GET" && request.method != "HEAD"
                                ? NotAllowed("GET, HEAD")
                            : path == "/hello" ? Hello(request)
                                               : Asset(*FindWebAsset(path));
    response.headers.emplace_back("Access-Control-Allow-Origin", "*");
    return response;
}

// GET /hello: that the bridge runs, and whether the request's token holds for its origin.
HttpResponse Bridge::Hello(const HttpRequest& request) {
    // An origin that can be neither allowed nor paired (an opaque "null", another scheme) is
    // told so, with the same body: a page can say why it will never connect.
    std::optional<std::string> origin = request.Header("Origin");
    CheckPairings();
    const bool possible = !origin || NormalizeWebOrigin(*origin) ||
                          IsAllowedOrigin(origin, server_->Port(), options_.allowedOrigins);
    HttpResponse response;
    response.status = possible ? 200 : 403;
    response.headers = {{"Content-Type", "application/json"}};
    response.body =
        nlohmann::json{{"talrec", 1},
                       {"paired", possible && TokenHolds(request, BearerToken(request))}}
            .dump();
    return response;
}

// A CORS preflight for a guarded address: answered for the origins allowed and paired only,
// with that exact origin.
HttpResponse Bridge::Preflight(const HttpRequest& request) {
    std::optional<std::string> origin = request.Header("Origin");
    CheckPairings();
    if (!origin || !IsAllowedOrigin(origin, server_->Port(), options_.allowedOrigins)) {
        if (!PairedOrigin(request)) return Plain(403, "forbidden origin");
    }
    return Preflighted(request, *origin);
}

HttpResponse Bridge::Guarded(const HttpRequest& request, const std::string& path) {
    const bool files = path == "/files" || path.rfind("/files/", 0) == 0;
    std::optional<std::string> file;
    if (path.size() > 7 && files) file = PercentDecode(path.substr(7));
    Access access = Access::Open;
    if (path == "/rpc") {
        access = Access::SocketToken;
    } else if (path == "/files" || path == "/tickets") {
        access = Access::Token;
    } else if (files) {
        access = Access::TokenOrTicket;
    }
    if (std::optional<HttpResponse> refused = Refusal(request, access, file)) return *refused;

    const WebAsset* asset = FindWebAsset(path);
    HttpResponse response;
    if (path == "/tickets") {
        response = request.method == "POST" ? IssueTicket(request) : NotAllowed("POST");
    } else if (auto answer = pairing_->Answer(request, server_->Port())) {
        response = std::move(*answer);
    } else if (request.method != "GET" && request.method != "HEAD") {
        response = NotAllowed("GET, HEAD");
    } else if (asset != nullptr) {
        response = Asset(*asset);
        if (path == "/") {
            response.headers.emplace_back("Content-Security-Policy", "frame-ancestors 'none'");
        }
    } else if (path == "/files") {
        response = ListDataFiles(ComputeDataFolder());
    } else if (files) {
        response = file ? ServeDataFile(ComputeDataFolder(), *file, request.Header("Range"))
                        : Plain(404, "not found");
        if (file && QueryParam(request.target, "download") == "1" && response.filePath) {
            response.headers.emplace_back("Content-Disposition", Attachment(*file));
        }
    } else if (path == "/rpc") {
        response = Plain(426, "WebSocket upgrade required");
        response.headers.emplace_back("Upgrade", "websocket");
    } else {
        response = Plain(404, "not found");
    }
    // A page of an allowed or paired origin may read what it fetched.
    if (auto origin = request.Header("Origin")) {
        response.headers.emplace_back("Access-Control-Allow-Origin", *origin);
        response.headers.emplace_back("Vary", "Origin");
    }
    return response;
}

// POST /tickets {"name": FILE}: a ticket for one file of the data folder.
HttpResponse Bridge::IssueTicket(const HttpRequest& request) {
    const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
    if (!body.is_object() || !body.contains("name") || !body["name"].is_string()) {
        return Plain(400, "expected {\"name\": FILE}");
    }
    const std::string name = body["name"].get<std::string>();
    std::error_code ec;
    if (!IsPlainFileName(name) ||
        std::filesystem::symlink_status(std::filesystem::path(ComputeDataFolder()) / name, ec)
                .type() != std::filesystem::file_type::regular) {
        return Plain(404, "not found");
    }
    HttpResponse response;
    response.headers = {{"Content-Type", "application/json"}};
    response.body = nlohmann::json{{"ticket", tickets_.Issue(name)}}.dump();
    return response;
}

std::optional<HttpResponse> Bridge::OnUpgrade(const HttpRequest& request) {
    const bool rpc = TargetPath(request.target) == "/rpc";
    if (!IsLoopbackHost(request.Header("Host"), server_->Port())) {
        return Plain(403, "forbidden host");
    }
    if (auto refused = Refusal(request, rpc ? Access::SocketToken : Access::Open, std::nullopt)) {
        return refused;
    }
    if (!rpc) return Plain(404, "not found");
    // A browser that offered subprotocols fails the connection unless one is chosen.
    HttpResponse accept;
    accept.status = 101;
    if (SocketProtocols(request).count(kSubprotocol) != 0) {
        accept.headers.emplace_back("Sec-WebSocket-Protocol", kSubprotocol);
    }
    return accept;
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
    std::optional<std::string> token = SocketToken(request);
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
