// Private contract of the loopback server: the state its connections share, and one
// connection (an HTTP connection that may become a WebSocket). Everything here belongs to the
// loop's thread; nothing is locked.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ext/loopserver.h"

namespace talrec::platform::http_detail {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;
using tcp = boost::asio::ip::tcp;

class Connection;

}  // namespace talrec::platform::http_detail

namespace talrec::platform {

struct LoopServer::State : std::enable_shared_from_this<LoopServer::State> {
    explicit State(boost::asio::io_context& context) : io(context) {}

    // The message loop's event loop. Not owned: the handlers it holds own the connections, and
    // through them this state, so that destroying it with the loop frees everything.
    boost::asio::io_context& io;
    LoopServerHandlers handlers;
    LoopServerLimits limits;
    std::vector<std::unique_ptr<http_detail::tcp::acceptor>> acceptors;
    std::uint16_t port = 0;
    std::uint64_t nextId = 1;
    // Numbers the waits for a request head, in the order they began.
    std::uint64_t nextWait = 1;
    // Every connection that has not ended; `refusing` are those over the limit, being
    // answered 503.
    std::map<std::uint64_t, std::shared_ptr<http_detail::Connection>> connections;
    std::map<std::uint64_t, std::shared_ptr<http_detail::Connection>> refusing;
    // Set by the destructor: no handler is called again and every completion returns.
    bool stopped = false;
    // Stop in progress.
    bool stopping = false;
    std::function<void()> stopDone;
    std::unique_ptr<boost::asio::steady_timer> stopTimer;
    // The quiet spell after which onIdle runs; each arming or disarming makes the waits begun
    // before it stale.
    std::unique_ptr<boost::asio::steady_timer> idleTimer;
    std::uint64_t idleRound = 0;

    void Accept(http_detail::tcp::acceptor& acceptor);
    // Starts the idle clock when the table is empty and the host asked for one; Busy stops it.
    void ArmIdle();
    void Busy() { ++idleRound; }
    // Before a connection is added: drops those waiting longest for their request head while
    // the waiting ones fill their share or the table is full.
    void MakeRoom();
    // At least half the table is taken: request heads get the short deadline.
    bool Crowded() const { return connections.size() * 2 >= limits.maxConnections; }
    // Called by a connection as it ends; finishes a Stop when it was the last.
    void Ended(std::uint64_t id);
    void FinishStop();
};

}  // namespace talrec::platform

namespace talrec::platform::http_detail {

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(std::shared_ptr<LoopServer::State> state, tcp::socket socket, std::uint64_t id,
               bool refuse);
    ~Connection();

    void Start();
    bool Send(std::string text);
    void Close(std::uint16_t code, std::string reason);
    // For Stop: an HTTP connection ends at once, a WebSocket starts its closing handshake.
    void Shutdown(std::uint16_t code);
    // Ends the connection now; onClose is called (with `code`) if it was opened and `notify`.
    void Finish(std::uint16_t code, bool notify = true);
    // Waiting for a request head: the number of the wait (State::nextWait), or 0.
    std::uint64_t Waiting() const { return phase_ == Phase::Http ? waiting_ : 0; }

  private:
    enum class Phase { Http, Handshake, Open, Closing, Done };

    void ReadRequest();
    void OnRequest(beast::error_code ec);
    void Respond(HttpResponse response, bool keepAlive);
    void SendFileBody(bool keepAlive);
    void AfterResponse(beast::error_code ec, bool keepAlive);
    void Upgrade();
    void ReadMessage();
    void OnMessage(beast::error_code ec);
    void WriteNext();
    void CloseSocket();
    bool Gone() const { return phase_ == Phase::Done || state_->stopped; }

    std::shared_ptr<LoopServer::State> state_;
    const std::uint64_t id_;
    const bool refuse_;  // over the connection limit: answer 503 and close
    Phase phase_ = Phase::Http;
    bool opened_ = false;  // onOpen was called, so onClose is owed

    beast::tcp_stream stream_;  // until the upgrade
    std::optional<websocket::stream<beast::tcp_stream>> ws_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    HttpRequest request_;        // the last request read
    std::uint64_t waiting_ = 0;  // while a request head is being read

    // A response being written.
    std::unique_ptr<http::response<http::string_body>> response_;
    std::unique_ptr<http::response<http::empty_body>> fileHead_;
    std::unique_ptr<http::response_serializer<http::empty_body>> fileHeadWriter_;
    int fileFd_ = -1;
    std::uint64_t fileLeft_ = 0;
    std::uint64_t filePos_ = 0;
    std::vector<char> chunk_;

    // WebSocket output.
    std::deque<std::string> queue_;
    std::size_t queuedBytes_ = 0;
    bool writing_ = false;
    std::optional<websocket::close_reason> closeWanted_;
    bool closeStarted_ = false;
};

}  // namespace talrec::platform::http_detail
