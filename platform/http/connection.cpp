// One connection of the loopback server, HTTP phase: requests read under a deadline, answers
// written (a file body a piece at a time), and the hand-over to the WebSocket on an upgrade.
#include <algorithm>

#include "platform/http/server_state.h"

namespace talrec::platform::http_detail {

namespace {

constexpr std::size_t kHeaderLimit = 16 * 1024;
constexpr std::size_t kFileChunk = 64 * 1024;
constexpr const char* kServerName = "talrec";

HttpRequest ToRequest(const http::request<http::string_body>& in) {
    HttpRequest out;
    out.method = std::string(in.method_string());
    out.target = std::string(in.target());
    for (const auto& field : in) {
        out.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    out.body = in.body();
    return out;
}

HttpResponse PlainResponse(int status, std::string text) {
    HttpResponse response;
    response.status = status;
    response.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
    response.body = std::move(text);
    return response;
}

}  // namespace

Connection::Connection(std::shared_ptr<LoopServer::State> state, tcp::socket socket,
                       std::uint64_t id, bool refuse)
    : state_(std::move(state)), id_(id), refuse_(refuse), stream_(std::move(socket)) {
    // Replies and notifications are small writes in a row; without this the second waits for
    // the peer's delayed acknowledgement of the first.
    beast::error_code ec;
    stream_.socket().set_option(tcp::no_delay(true), ec);
}

Connection::~Connection() = default;

void Connection::Start() {
    ReadRequest();
}

void Connection::ReadRequest() {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(state_->limits.maxRequestBodyBytes);
    waiting_ = state_->nextWait++;
    const LoopServerLimits& limits = state_->limits;
    stream_.expires_after(state_->Crowded()
                              ? std::min(limits.crowdedTimeout, limits.handshakeTimeout)
                              : limits.handshakeTimeout);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRequest(ec); });
}

void Connection::OnRequest(beast::error_code ec) {
    waiting_ = 0;
    if (Gone()) return;
    if (ec) {
        // A malformed or oversized request is answered; a peer that closed or went quiet past
        // the deadline is dropped.
        const bool malformed =
            ec.category() == http::make_error_code(http::error::bad_target).category() &&
            ec != http::error::end_of_stream && ec != http::error::partial_message;
        if (malformed) {
            request_ = {};
            parser_.reset();
            Respond(ec == http::error::body_limit ? PlainResponse(413, "request body too large\n")
                                                  : PlainResponse(400, "bad request\n"),
                    false);
        } else {
            Finish(kCloseAbnormal);
        }
        return;
    }
    request_ = ToRequest(parser_->get());
    const bool keepAlive = parser_->get().keep_alive();
    if (refuse_) {
        HttpResponse busy = PlainResponse(503, "too many connections\n");
        busy.headers.emplace_back("Access-Control-Allow-Origin", "*");
        Respond(std::move(busy), false);
        return;
    }
    if (websocket::is_upgrade(parser_->get())) {
        std::optional<HttpResponse> refusal = PlainResponse(404, "not found\n");
        if (state_->handlers.onUpgrade) refusal = state_->handlers.onUpgrade(request_);
        if (Gone()) return;
        if (refusal && refusal->status != 101) {
            Respond(std::move(*refusal), false);
        } else {
            Upgrade(refusal ? std::move(refusal->headers) : decltype(refusal->headers){});
        }
        return;
    }
    HttpResponse response = PlainResponse(404, "not found\n");
    if (state_->handlers.onRequest) response = state_->handlers.onRequest(request_);
    if (Gone()) return;
    Respond(std::move(response), keepAlive && phase_ == Phase::Http && !state_->stopping);
}

void Connection::Respond(HttpResponse response, bool keepAlive) {
    const bool head = request_.method == "HEAD";
    const unsigned version = parser_ ? parser_->get().version() : 11;
    if (response.filePath) {
        // A name replaced by a symbolic link after the host looked is not followed.
        if (!file_.Open(*response.filePath, response.fileOffset + response.fileLength)) {
            Respond(PlainResponse(404, "not found\n"), keepAlive);
            return;
        }
        fileHead_ = std::make_unique<http::response<http::empty_body>>(
            static_cast<http::status>(response.status), version);
        for (auto& [name, value] : response.headers) fileHead_->insert(name, value);
        fileHead_->set(http::field::server, kServerName);
        fileHead_->content_length(response.fileLength);
        fileHead_->keep_alive(keepAlive);
        filePos_ = response.fileOffset;
        fileLeft_ = head ? 0 : response.fileLength;
        fileHeadWriter_ = std::make_unique<http::response_serializer<http::empty_body>>(*fileHead_);
        stream_.expires_after(state_->limits.handshakeTimeout * 3);
        http::async_write_header(
            stream_, *fileHeadWriter_,
            [self = shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
                if (self->Gone()) return;
                if (ec) return self->Finish(kCloseAbnormal);
                self->SendFileBody(keepAlive);
            });
        return;
    }
    response_ = std::make_unique<http::response<http::string_body>>(
        static_cast<http::status>(response.status), version);
    for (auto& [name, value] : response.headers) response_->insert(name, value);
    response_->set(http::field::server, kServerName);
    response_->keep_alive(keepAlive);
    response_->content_length(response.body.size());
    if (!head) response_->body() = std::move(response.body);
    stream_.expires_after(state_->limits.handshakeTimeout * 3);
    http::async_write(stream_, *response_,
                      [self = shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
                          self->AfterResponse(ec, keepAlive);
                      });
}

void Connection::SendFileBody(bool keepAlive) {
    if (fileLeft_ == 0) {
        file_.Close();
        AfterResponse({}, keepAlive);
        return;
    }
    chunk_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(fileLeft_, kFileChunk)));
    const long long got = file_.Read(chunk_.data(), chunk_.size(), filePos_);
    if (got <= 0) {
        // The file shrank under us: the promised length cannot be sent, so the connection ends.
        Finish(kCloseAbnormal);
        return;
    }
    filePos_ += static_cast<std::uint64_t>(got);
    fileLeft_ -= static_cast<std::uint64_t>(got);
    stream_.expires_after(state_->limits.handshakeTimeout * 3);
    net::async_write(stream_, net::buffer(chunk_.data(), static_cast<std::size_t>(got)),
                     [self = shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
                         if (self->Gone()) return;
                         if (ec) return self->Finish(kCloseAbnormal);
                         self->SendFileBody(keepAlive);
                     });
}

void Connection::AfterResponse(beast::error_code ec, bool keepAlive) {
    if (Gone()) return;
    response_.reset();
    fileHeadWriter_.reset();
    fileHead_.reset();
    if (ec || !keepAlive || state_->stopping) {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        Finish(kCloseAbnormal);
        return;
    }
    ReadRequest();
}

void Connection::Upgrade(std::vector<std::pair<std::string, std::string>> headers) {
    phase_ = Phase::Handshake;
    stream_.expires_never();
    ws_.emplace(std::move(stream_));
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = state_->limits.handshakeTimeout;
    timeouts.idle_timeout = websocket::stream_base::none();
    timeouts.keep_alive_pings = false;
    ws_->set_option(timeouts);
    ws_->set_option(websocket::stream_base::decorator(
        [headers = std::move(headers)](websocket::response_type& response) {
            response.set(http::field::server, kServerName);
            for (const auto& [name, value] : headers) response.set(name, value);
        }));
    ws_->read_message_max(state_->limits.maxMessageBytes);
    ws_->auto_fragment(false);
    ws_->async_accept(parser_->release(), [self = shared_from_this()](beast::error_code ec) {
        if (self->Gone()) return;
        if (ec) return self->Finish(kCloseAbnormal);
        self->phase_ = Phase::Open;
        self->opened_ = true;
        if (self->state_->handlers.onOpen) self->state_->handlers.onOpen(self->id_, self->request_);
        if (self->Gone()) return;
        self->ReadMessage();
    });
}

void Connection::CloseSocket() {
    beast::error_code ec;
    if (ws_) {
        beast::get_lowest_layer(*ws_).socket().close(ec);
    } else {
        stream_.socket().close(ec);
    }
}

void Connection::Finish(std::uint16_t code, bool notify) {
    if (phase_ == Phase::Done) return;
    auto self = shared_from_this();  // the table's reference goes below
    phase_ = Phase::Done;
    CloseSocket();
    file_.Close();
    queue_.clear();
    queuedBytes_ = 0;
    if (notify && opened_ && !state_->stopped && state_->handlers.onClose) {
        state_->handlers.onClose(id_, code);
    }
    if (!state_->stopped) state_->Ended(id_);
}

void Connection::Shutdown(std::uint16_t code) {
    if (phase_ == Phase::Open) {
        Close(code, "server stopping");
    } else if (phase_ != Phase::Closing) {
        Finish(kCloseAbnormal);
    }
}

}  // namespace talrec::platform::http_detail
