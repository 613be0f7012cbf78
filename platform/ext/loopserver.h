// A loopback HTTP and WebSocket server on a thread's message loop: a platform extension, like
// MessageLoop itself, for hosts that let a browser reach them. It listens on 127.0.0.1 (and on
// [::1] where that address exists) only, and runs every socket on the event loop behind the
// MessageLoop of the thread that starts it, never blocking it: requests, frames and replies
// interleave with window messages and timers on that one thread.
//
// Both targets have it. On Linux the sockets run on the loop's own event loop; on Windows, whose
// message loop is the system's, on a thread of the server's own, which hands every handler call
// to the loop (platform/http/loopserver.cpp); the contract below holds on both.
//
// Threads. Start, Send, Close, Stop, Port, ConnectionCount and the destructor run on the loop's
// thread only, and every handler below is called there, from inside MessageLoop::Run, one at a
// time. A handler may call Send, Close and Stop (for any connection, its own too); it must not
// destroy the server.
//
// What the server checks: request syntax, the limits below, that a file body is a regular file
// it can open without following a symbolic link. A connection is taken from the system only
// once its first bytes have arrived, so one that says nothing costs no place in the table. What the
// host decides: everything about a request's meaning (its Host and Origin headers, its target,
// whether an upgrade is accepted).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class MessageLoop;

namespace talrec::platform {

struct HttpRequest {
    std::string method;  // "GET", "HEAD", ...
    std::string target;  // as sent: path and query, not decoded
    std::vector<std::pair<std::string, std::string> > headers;  // in order, names as sent
    std::string body;  // at most LoopServerLimits::maxRequestBodyBytes

    // The first header of that name (compared without regard to case), or nullopt.
    std::optional<std::string> Header(const std::string& name) const;
};

struct HttpResponse {
    int status = 200;
    // Headers besides Content-Length, Connection and Server, which the server sets.
    std::vector<std::pair<std::string, std::string> > headers;
    std::string body;
    // When set, the body is this slice of a file instead: opened when the response is sent,
    // without following a symbolic link, and read a piece at a time. A file that cannot be
    // opened as a regular file of at least offset + length bytes gives 404 instead.
    std::optional<std::string> filePath;
    std::uint64_t fileOffset = 0;
    std::uint64_t fileLength = 0;
};

struct LoopServerLimits {
    // Connections at once, HTTP and WebSocket together; one more is answered 503 and closed,
    // unless some of them still wait for their request head (below). The 503 may be read by a
    // page of any origin (Access-Control-Allow-Origin: *), so a client can say the server is
    // busy rather than gone; it says nothing else.
    std::size_t maxConnections = 64;
    // Connections that have not finished their request head (just accepted, or idle between
    // requests) count against this share of the table. One that arrives when the share, or the
    // whole table, is taken makes room by dropping the connection that has waited longest for
    // its head: peers that open connections and say nothing useful cannot keep out a client
    // that sends its request at once.
    std::size_t maxPending = 32;
    // Largest WebSocket message taken; a larger one closes the connection with 1009.
    std::size_t maxMessageBytes = 1024 * 1024;
    // A request (or the WebSocket opening handshake) not complete within this is dropped; so
    // is an HTTP connection idle this long between requests.
    std::chrono::milliseconds handshakeTimeout{10000};
    // The same for a request head begun while the table is at least half full.
    std::chrono::milliseconds crowdedTimeout{1000};
    // Bytes queued for a WebSocket peer that does not read; beyond it the connection is
    // dropped (closed as 1006 for the host).
    std::size_t maxQueuedBytes = 16 * 1024 * 1024;
    // With a positive value, onIdle is called once the server has had no connection this long
    // (an open WebSocket is one); the clock starts when the last one ends.
    std::chrono::milliseconds idleTimeout{0};
    // Largest request body taken; a larger one is answered 413.
    std::size_t maxRequestBodyBytes = 64 * 1024;
};

// WebSocket close codes the host uses.
inline constexpr std::uint16_t kCloseNormal = 1000;
inline constexpr std::uint16_t kCloseGoingAway = 1001;
inline constexpr std::uint16_t kCloseUnsupportedData = 1003;
inline constexpr std::uint16_t kCloseAbnormal = 1006;  // never sent: the socket just ended
inline constexpr std::uint16_t kCloseInvalidPayload = 1007;
inline constexpr std::uint16_t kClosePolicy = 1008;
inline constexpr std::uint16_t kCloseTooBig = 1009;
inline constexpr std::uint16_t kCloseInternalError = 1011;

// The host's side. Every handler runs on the loop's thread. Connection ids are never reused.
struct LoopServerHandlers {
    // An HTTP request that is not a WebSocket upgrade. The answer is sent as returned (for
    // HEAD without its body).
    std::function<HttpResponse(const HttpRequest& request)> onRequest;
    // A WebSocket upgrade request: nullopt accepts it (the opening handshake follows, then
    // onOpen), and so does a response with status 101, whose headers join the handshake's
    // answer (Sec-WebSocket-Protocol); any other response refuses it.
    std::function<std::optional<HttpResponse>(const HttpRequest& request)> onUpgrade;
    // The handshake is complete; `request` is the upgrade request accepted.
    std::function<void(std::uint64_t id, const HttpRequest& request)> onOpen;
    // One whole message (text is valid UTF-8; invalid UTF-8 closes the connection with 1007
    // before any handler sees it).
    std::function<void(std::uint64_t id, std::string text)> onText;
    std::function<void(std::uint64_t id, std::string bytes)> onBinary;
    // Once for every opened connection, however it ended: the peer's close code, the code this
    // side closed with, kCloseTooBig or kCloseInvalidPayload for a message refused, or
    // kCloseAbnormal when the socket failed or the server stopped it. Send and Close for the
    // id do nothing afterwards.
    std::function<void(std::uint64_t id, std::uint16_t code)> onClose;
    // No connection for limits.idleTimeout; again after each later quiet spell that long.
    std::function<void()> onIdle;
};

class LoopServer {
  public:
    // Starts listening on 127.0.0.1:port and, where the address exists, [::1] with the same
    // port; port 0 picks a free one. On the calling thread's MessageLoop (there must be one).
    // Null with `error` set when the port cannot be had.
    static std::unique_ptr<LoopServer> Start(std::uint16_t port, LoopServerHandlers handlers,
                                             LoopServerLimits limits, std::string& error);
    // Starts on listening sockets made by another program (a service manager), owned from here
    // on (closed when this fails); Linux only (on Windows null, with `error` saying so). Each must
    // be a TCP socket listening on 127.0.0.1 or [::1], all on one port; otherwise null with `error`
    // naming the descriptor and what it is.
    static std::unique_ptr<LoopServer> Adopt(const std::vector<int>& sockets,
                                             LoopServerHandlers handlers, LoopServerLimits limits,
                                             std::string& error);
    // Stops at once: sockets are closed without a closing handshake and no handler is called
    // again. On the loop's thread, before its MessageLoop is destroyed.
    ~LoopServer();
    LoopServer(const LoopServer&) = delete;
    LoopServer& operator=(const LoopServer&) = delete;

    std::uint16_t Port() const;
    std::size_t ConnectionCount() const;

    // Queues one text message for a WebSocket connection; messages go out in the order queued.
    // False when the connection is not open (or is closing). (On Windows a connection the
    // socket thread has just found ended may still answer true: the message is dropped.)
    bool Send(std::uint64_t id, std::string text);
    // Starts the closing handshake after the messages queued; onClose follows.
    void Close(std::uint64_t id, std::uint16_t code, std::string reason = {});

    // Stops accepting, closes every HTTP connection and every WebSocket with `code`; `done`
    // runs on the loop's thread once every connection has ended, or after `grace` (the rest
    // are dropped, their onClose called with kCloseAbnormal).
    void Stop(std::uint16_t code, std::chrono::milliseconds grace, std::function<void()> done);

    struct State;

  private:
    explicit LoopServer(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

}  // namespace talrec::platform
