#include "host/bridge/Bridge.h"

#include <cstdio>
#include <set>

#include "control/StateStrings.h"
#include "host/bridge/BridgeFiles.h"
#include "host/bridge/BridgePolicy.h"
#include "host/bridge/WebAssets.h"
#include "host/common/ComContainer.h"
#include "host/rpc/RpcSession.h"
#include "platform/oaidl.h"
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

}  // namespace

// Tells standard error whenever a page records, pauses, resumes or stops: recording the
// microphone is never silent to the user. Follows the control's state strings, so it sees
// what the page sees.
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

    void OnDisconnect() {
        if (state_ != State::Idle) Say("recording into " + file_ + " discarded: page closed");
        state_ = State::Idle;
    }

  private:
    enum class State { Idle, Recording, Paused };

    void Stopped() {
        if (state_ != State::Idle) Say("stopped recording into " + file_);
        state_ = State::Idle;
    }
    void Say(const std::string& what) {
        std::fprintf(stderr, "talrec serve: %s %s\n", origin_.c_str(), what.c_str());
        std::fflush(stderr);
    }

    std::string origin_;
    std::set<DISPID> stops_;
    std::string file_;
    State state_ = State::Idle;
};

struct Bridge::Client {
    std::unique_ptr<RpcSession> session;
    std::unique_ptr<RecordingNotice> notice;
};

Bridge::Bridge(BridgeOptions options) : options_(std::move(options)) {}

Bridge::~Bridge() {
    for (auto& [id, client] : clients_) client->notice->OnDisconnect();
    clients_.clear();
    closed_.clear();
    server_.reset();
}

bool Bridge::Start(std::string& error) {
    platform::LoopServerHandlers handlers;
    handlers.onRequest = [this](const HttpRequest& r) { return OnRequest(r); };
    handlers.onUpgrade = [this](const HttpRequest& r) { return OnUpgrade(r); };
    handlers.onOpen = [this](std::uint64_t id, const HttpRequest& r) { OnOpen(id, r); };
    handlers.onText = [this](std::uint64_t id, std::string text) { OnText(id, std::move(text)); };
    handlers.onBinary = [this](std::uint64_t id, std::string) {
        server_->Close(id, platform::kCloseUnsupportedData, "JSON-RPC comes in text messages");
    };
    handlers.onClose = [this](std::uint64_t id, std::uint16_t code) { OnClose(id, code); };
    server_ =
        platform::LoopServer::Start(options_.port, std::move(handlers), options_.limits, error);
    return server_ != nullptr;
}

std::uint16_t Bridge::Port() const {
    return server_ ? server_->Port() : 0;
}

void Bridge::Stop(std::function<void()> done) {
    server_->Stop(platform::kCloseGoingAway, std::chrono::seconds(3), std::move(done));
}

// The three checks, in order: Host (403), Origin (403), token (401).
std::optional<HttpResponse> Bridge::Refusal(const HttpRequest& request, bool needsToken) {
    const std::uint16_t port = server_->Port();
    if (!IsLoopbackHost(request.Header("Host"), port)) return Plain(403, "forbidden host");
    if (!IsAllowedOrigin(request.Header("Origin"), port, options_.allowedOrigins)) {
        return Plain(403, "forbidden origin");
    }
    if (needsToken) {
        std::optional<std::string> token = QueryParam(request.target, "token");
        if (!token || !TokenMatches(*token, options_.token)) return Plain(401, "token required");
    }
    return std::nullopt;
}

HttpResponse Bridge::OnRequest(const HttpRequest& request) {
    const std::string path(TargetPath(request.target));
    const WebAsset* asset = FindWebAsset(path);
    const bool files = path == "/files" || path.rfind("/files/", 0) == 0;
    std::optional<HttpResponse> refused = Refusal(request, !asset);
    HttpResponse response;
    if (refused) {
        response = std::move(*refused);
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
    if (auto refused = Refusal(request, true)) return refused;
    if (TargetPath(request.target) != "/rpc") return Plain(404, "not found");
    return std::nullopt;
}

void Bridge::OnOpen(std::uint64_t id, const HttpRequest& request) {
    std::string error;
    std::unique_ptr<ComContainer> container = ComContainer::Create(options_.progId, error);
    if (!container) {
        std::fprintf(stderr, "talrec serve: %s\n", error.c_str());
        server_->Close(id, platform::kCloseInternalError, "the control cannot be created");
        return;
    }
    auto client = std::make_unique<Client>();
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
    session->onCall = [notice](const Request&, const CallResult& result) {
        notice->OnCall(result);
    };
    clients_.emplace(id, std::move(client));
    // In-place activation: the control's window, and with it its recorder.
    ++handling_;
    session->Container().CreateControlWindow();
    --handling_;
    Reap();
}

void Bridge::OnText(std::uint64_t id, std::string text) {
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
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
    client->notice->OnDisconnect();
    if (handling_ > 0) {
        closed_.push_back(std::move(client));  // its own call is still running
    }
    // Otherwise the control is destroyed here, its window closed and a recording discarded.
}

void Bridge::Reap() {
    if (handling_ == 0) closed_.clear();
}

}  // namespace talrec::host
