// Private contract of the loopback server: the state its connections share, and one
// connection (an HTTP connection that may become a WebSocket). Everything here belongs to the
// thread that runs the sockets, and nothing is locked: on Linux the loop's own thread; on
// Windows the server's socket thread (SocketThread below), which hands the host's handlers to
// the loop's thread and takes the host's calls back from it.
#pragma once

#include <atomic>
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

// The body of a response that is a file: opened without following a link, regular files only.
// On the sockets' thread.
class FileBody {
  public:
    FileBody() = default;
    ~FileBody() { Close(); }
    FileBody(const FileBody&) = delete;
    FileBody& operator=(const FileBody&) = delete;
    // False (and nothing open) when `path` is a link, not a regular file, or shorter than
    // `atLeast` bytes.
    bool Open(const std::string& path, std::uint64_t atLeast);
    // Up to `size` bytes from `offset`: the count read, 0 or less at the end or on failure.
    long long Read(char* into, std::size_t size, std::uint64_t offset);
    void Close();
    bool IsOpen() const { return handle_ != kNone; }

  private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;  // a descriptor on Linux, a HANDLE on Windows
};

#ifdef _WIN32
struct SocketThread;
#endif

}  // namespace talrec::platform::http_detail

namespace talrec::platform {

struct LoopServer::State : std::enable_shared_from_this<LoopServer::State> {
    explicit State(boost::asio::io_context& context) : io(context) {}

    // The event loop the sockets run on: on Linux the message loop's, on Windows the socket
    // thread's. Not owned: the handlers it holds own the connections, and through them this
    // state, so that destroying it frees everything.
    boost::asio::io_context& io;
#ifdef _WIN32
    // The socket thread and its event loop; ~LoopServer stops and destroys it.
    std::shared_ptr<http_detail::SocketThread> thread;
#endif
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
    // connections.size(), for ConnectionCount on the loop's thread.
    std::atomic<std::size_t> count{0};
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
    void Busy() {
        ++idleRound;
    }
    // Before a connection is added: drops those waiting longest for their request head while
    // the waiting ones fill their share or the table is full.
    void MakeRoom();
    // At least half the table is taken: request heads get the short deadline.
    bool Crowded() const {
        return connections.size() * 2 >= limits.maxConnections;
    }
    // Called by a connection as it ends; finishes a Stop when it was the last.
    void Ended(std::uint64_t id);
    void FinishStop();
    // LoopServer::Stop, on the sockets' thread.
    void StartStop(std::uint16_t code, std::chrono::milliseconds grace, std::function<void()> done);
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
    // Accepts the upgrade; `headers` join the handshake's answer.
    void Upgrade(std::vector<std::pair<std::string, std::string>> headers);
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
    FileBody file_;
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
