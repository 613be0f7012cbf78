// The loopback server: its listening sockets, the connection table, and stopping. On Linux
// the sockets run on the message loop's own event loop. On Windows, whose message loop is the
// system's, they run on a thread of the server's own (SocketThread) with an event loop over
// Winsock: each handler is posted to the message loop and runs there (a request's or an
// upgrade's answer is waited for), and the host's calls (Send, Close, Stop) are posted back.
#include "platform/ext/loopserver.h"

#ifdef _WIN32
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "platform/ext/messageloop.h"
#include "platform/win32/sdk.h"
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/user/window_internal.h"
#endif

#include <algorithm>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <cctype>

#include "platform/http/server_state.h"

namespace talrec::platform {

using namespace http_detail;

std::optional<std::string> HttpRequest::Header(const std::string& name) const {
    auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() &&
            std::equal(key.begin(), key.end(), name.begin(),
                       [&](char a, char b) { return lower(a) == lower(b); })) {
            return value;
        }
    }
    return std::nullopt;
}

#ifdef _WIN32

namespace http_detail {

// What crosses between the socket thread and the loop's thread. Shared by the functions
// posted to the loop, which may run after the server is gone.
struct Gate : std::enable_shared_from_this<Gate> {
    explicit Gate(MessageLoop::Poster poster) : loop(std::move(poster)) {}

    MessageLoop::Poster loop;
    // Set on the loop's thread by ~LoopServer: no handler runs from then on, and the socket
    // thread stops waiting for answers. Under `mutex`, which `answered` waits on.
    std::mutex mutex;
    std::condition_variable answered;
    bool cancelled = false;
    // Connections the host may still send to (opened, not closed by either side); the loop's
    // thread only.
    std::set<std::uint64_t> open;

    // On the loop's thread: whether handlers may still run.
    bool Live() {
        std::lock_guard lock(mutex);
        return !cancelled;
    }
    // From the socket thread: runs `fn` on the loop's thread, without waiting.
    void Post(std::function<void()> fn) {
        loop.Post([self = shared_from_this(), fn = std::move(fn)] {
            if (self->Live()) fn();
        });
    }
    // From the socket thread: runs `fn` on the loop's thread and waits for its answer;
    // `fallback` when the server is destroyed first.
    template <class R>
    R Ask(std::function<R()> fn, R fallback) {
        struct Call {
            std::optional<R> answer;
            bool done = false;
        };
        auto call = std::make_shared<Call>();
        const bool posted = loop.Post([self = shared_from_this(), call, fn = std::move(fn)] {
            std::optional<R> answer;
            auto finish = [&] {
                {
                    std::lock_guard lock(self->mutex);
                    call->answer = std::move(answer);
                    call->done = true;
                }
                self->answered.notify_all();
            };
            try {
                if (self->Live()) answer.emplace(fn());
            } catch (...) {
                finish();
                throw;
            }
            finish();
        });
        if (!posted) return fallback;
        std::unique_lock lock(mutex);
        answered.wait(lock, [&] { return call->done || cancelled; });
        return call->answer ? std::move(*call->answer) : fallback;
    }
};

// The sockets' thread and its event loop.
struct SocketThread {
    explicit SocketThread(MessageLoop::Poster poster)
        : gate(std::make_shared<Gate>(std::move(poster))) {}

    net::io_context io{1};
    net::executor_work_guard<net::io_context::executor_type> work = net::make_work_guard(io);
    std::thread thread;
    std::shared_ptr<Gate> gate;
};

}  // namespace http_detail

namespace {

// The host's handlers as the socket thread calls them: each runs on the loop's thread.
LoopServerHandlers OnLoopThread(const std::shared_ptr<Gate>& t, LoopServerHandlers host) {
    auto shared = std::make_shared<LoopServerHandlers>(std::move(host));
    LoopServerHandlers out;
    if (shared->onRequest) {
        out.onRequest = [t, shared](const HttpRequest& request) {
            HttpResponse fallback;
            fallback.status = 503;
            return t->Ask<HttpResponse>([&] { return shared->onRequest(request); }, fallback);
        };
    }
    if (shared->onUpgrade) {
        out.onUpgrade = [t, shared](const HttpRequest& request) {
            HttpResponse fallback;
            fallback.status = 503;
            return t->Ask<std::optional<HttpResponse>>([&] { return shared->onUpgrade(request); },
                                                       fallback);
        };
    }
    // Whatever the host does with them, open and close keep the table of connections it may
    // send to.
    out.onOpen = [t, shared](std::uint64_t id, const HttpRequest& request) {
        t->Post([t, shared, id, request] {
            t->open.insert(id);
            if (shared->onOpen) shared->onOpen(id, request);
        });
    };
    out.onClose = [t, shared](std::uint64_t id, std::uint16_t code) {
        t->Post([t, shared, id, code] {
            t->open.erase(id);
            if (shared->onClose) shared->onClose(id, code);
        });
    };
    if (shared->onText) {
        out.onText = [t, shared](std::uint64_t id, std::string text) {
            t->Post([shared, id, text = std::move(text)]() mutable {
                shared->onText(id, std::move(text));
            });
        };
    }
    if (shared->onBinary) {
        out.onBinary = [t, shared](std::uint64_t id, std::string bytes) {
            t->Post([shared, id, bytes = std::move(bytes)]() mutable {
                shared->onBinary(id, std::move(bytes));
            });
        };
    }
    if (shared->onIdle) {
        out.onIdle = [t, shared] { t->Post([shared] { shared->onIdle(); }); };
    }
    return out;
}

// Only this socket may have the port: without it another program could bind the same address
// and port and take connections meant for the bridge.
void ExclusiveAddress(tcp::acceptor& acceptor, beast::error_code& ec) {
    const BOOL on = TRUE;
    if (setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&on), sizeof on) != 0) {
        ec = beast::error_code(WSAGetLastError(), net::error::get_system_category());
    }
}

#else

namespace {

// Connections are handed over once their first bytes are in (or after a second regardless).
void DeferAccept(tcp::acceptor& acceptor) {
    const int deferSeconds = 1;
    setsockopt(acceptor.native_handle(), IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds,
               sizeof deferSeconds);
}

#endif

// Opens a listening socket; false with `ec` set when the address or port cannot be had.
bool Listen(net::io_context& io, const tcp::endpoint& at, std::unique_ptr<tcp::acceptor>& out,
            beast::error_code& ec) {
    auto acceptor = std::make_unique<tcp::acceptor>(io);
    acceptor->open(at.protocol(), ec);
    if (ec) return false;
#ifdef _WIN32
    ExclusiveAddress(*acceptor, ec);
    if (ec) return false;
#else
    acceptor->set_option(net::socket_base::reuse_address(true), ec);
#endif
    if (at.address().is_v6()) acceptor->set_option(net::ip::v6_only(true), ec);
    acceptor->bind(at, ec);
    if (ec) return false;
#ifndef _WIN32
    DeferAccept(*acceptor);
#endif
    acceptor->listen(net::socket_base::max_listen_connections, ec);
    if (ec) return false;
    out = std::move(acceptor);
    return true;
}

#ifndef _WIN32
std::string Describe(const tcp::endpoint& at) {
    const std::string host = at.address().to_string();
    return (at.address().is_v6() ? "[" + host + "]" : host) + ":" + std::to_string(at.port());
}

// What a handed-over descriptor is when it is not a TCP socket listening on 127.0.0.1 or [::1]
// (a phrase that follows its name), or empty with `at` set to its address.
std::string Unfit(int fd, tcp::endpoint& at) {
    int type = 0;
    int protocol = 0;
    int listening = 0;
    socklen_t size = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0) {
        return errno == ENOTSOCK ? "is not a socket"
                                 : std::string("fails: ") + std::strerror(errno);
    }
    size = sizeof protocol;
    getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &size);
    if (type != SOCK_STREAM || protocol != IPPROTO_TCP) return "is not a TCP socket";
    size = sizeof listening;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || listening == 0) {
        return "is a TCP socket that does not listen";
    }
    sockaddr_storage address{};
    size = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return std::string("fails: ") + std::strerror(errno);
    }
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        at = tcp::endpoint(net::ip::address_v4(ntohl(in->sin_addr.s_addr)), ntohs(in->sin_port));
    } else {
        const auto* in = reinterpret_cast<const sockaddr_in6*>(&address);
        net::ip::address_v6::bytes_type bytes;
        std::memcpy(bytes.data(), in->sin6_addr.s6_addr, bytes.size());
        at = tcp::endpoint(net::ip::address_v6(bytes), ntohs(in->sin6_port));
    }
    if (at.address() != net::ip::make_address("127.0.0.1") &&
        at.address() != net::ip::make_address("::1")) {
        return "listens on " + Describe(at) + ", not on 127.0.0.1 or [::1]";
    }
    return {};
}
#endif

}  // namespace

std::unique_ptr<LoopServer> LoopServer::Start(std::uint16_t port, LoopServerHandlers handlers,
                                              LoopServerLimits limits, std::string& error) {
#ifdef _WIN32
    MessageLoop* loop = MessageLoop::Current();
    if (loop == nullptr) {
        error = "no message loop on this thread";
        return nullptr;
    }
    auto thread = std::make_unique<SocketThread>(loop->GetPoster());
    auto state = std::make_shared<State>(thread->io);
    state->handlers = OnLoopThread(thread->gate, std::move(handlers));
    state->thread = std::move(thread);
#else
    MessageLoopState* loop = window_detail::CurrentLoop();
    if (loop == nullptr) {
        error = "no message loop on this thread";
        return nullptr;
    }
    auto state = std::make_shared<State>(loop->io);
    state->handlers = std::move(handlers);
#endif
    state->limits = limits;

    const auto v4 = net::ip::make_address_v4("127.0.0.1");
    const auto v6 = net::ip::make_address_v6("::1");
    // With port 0 the IPv4 socket picks the port and the IPv6 one takes the same; when that
    // one is taken on [::1] another port is tried.
    for (int attempt = 0; attempt < 20; ++attempt) {
        state->acceptors.clear();
        beast::error_code ec;
        std::unique_ptr<tcp::acceptor> first;
        if (!Listen(state->io, tcp::endpoint(v4, port), first, ec)) {
            error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + ec.message();
            return nullptr;
        }
        state->port = first->local_endpoint().port();
        state->acceptors.push_back(std::move(first));
        std::unique_ptr<tcp::acceptor> second;
        if (Listen(state->io, tcp::endpoint(v6, state->port), second, ec)) {
            state->acceptors.push_back(std::move(second));
            break;
        }
        // No IPv6 loopback on this machine: the IPv4 socket alone.
        if (ec == boost::system::errc::address_not_available ||
            ec == net::error::address_family_not_supported) {
            break;
        }
        if (port != 0 || attempt == 19) {
            error = "cannot listen on [::1]:" + std::to_string(state->port) + ": " + ec.message();
            return nullptr;
        }
    }
    for (auto& acceptor : state->acceptors) state->Accept(*acceptor);
    state->ArmIdle();
#ifdef _WIN32
    state->thread->thread = std::thread([io = &state->io] { io->run(); });
#endif
    return std::unique_ptr<LoopServer>(new LoopServer(std::move(state)));
}

#ifdef _WIN32
std::unique_ptr<LoopServer> LoopServer::Adopt(const std::vector<int>&, LoopServerHandlers,
                                              LoopServerLimits, std::string& error) {
    error = "no service manager hands over sockets on Windows";
    return nullptr;
}
#else
std::unique_ptr<LoopServer> LoopServer::Adopt(const std::vector<int>& sockets,
                                              LoopServerHandlers handlers, LoopServerLimits limits,
                                              std::string& error) {
    auto closeFrom = [&sockets](std::size_t first) {
        for (std::size_t i = first; i < sockets.size(); ++i) ::close(sockets[i]);
    };
    MessageLoopState* loop = window_detail::CurrentLoop();
    if (loop == nullptr || sockets.empty()) {
        error = loop == nullptr ? "no message loop on this thread" : "no socket was handed over";
        closeFrom(0);
        return nullptr;
    }
    std::vector<tcp::endpoint> at(sockets.size());
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        std::string why = Unfit(sockets[i], at[i]);
        if (why.empty() && at[i].port() != at[0].port()) {
            why = "listens on " + Describe(at[i]) + ", another port than " + Describe(at[0]);
        }
        if (!why.empty()) {
            error = "descriptor " + std::to_string(sockets[i]) + " from the service manager " + why;
            closeFrom(0);
            return nullptr;
        }
    }
    auto state = std::make_shared<State>(loop->io);
    state->handlers = std::move(handlers);
    state->limits = limits;
    state->port = at[0].port();
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        auto acceptor = std::make_unique<tcp::acceptor>(state->io);
        beast::error_code ec;
        acceptor->assign(at[i].protocol(), sockets[i], ec);
        if (ec) {
            error = "cannot take descriptor " + std::to_string(sockets[i]) + ": " + ec.message();
            closeFrom(i);  // those before are the acceptors' and close with them
            return nullptr;
        }
        DeferAccept(*acceptor);
        state->acceptors.push_back(std::move(acceptor));
    }
    for (auto& acceptor : state->acceptors) state->Accept(*acceptor);
    state->ArmIdle();
    return std::unique_ptr<LoopServer>(new LoopServer(std::move(state)));
}
#endif

void LoopServer::State::ArmIdle() {
    if (limits.idleTimeout.count() <= 0 || stopped || stopping || !connections.empty() ||
        !refusing.empty()) {
        return;
    }
    if (!idleTimer) idleTimer = std::make_unique<net::steady_timer>(io);
    const std::uint64_t round = ++idleRound;
    idleTimer->expires_after(limits.idleTimeout);
    idleTimer->async_wait([self = shared_from_this(), round](beast::error_code ec) {
        if (ec || round != self->idleRound || self->stopped || self->stopping) return;
        if (self->handlers.onIdle) self->handlers.onIdle();
        self->ArmIdle();
    });
}

void LoopServer::State::Accept(tcp::acceptor& acceptor) {
    acceptor.async_accept(
        io, [self = shared_from_this(), &acceptor](beast::error_code ec, tcp::socket socket) {
            if (self->stopped || self->stopping) return;
            if (ec) {
                if (ec == net::error::operation_aborted) return;
                // Out of descriptors or the like: try again a little later, without spinning.
                auto wait = std::make_shared<net::steady_timer>(self->io);
                wait->expires_after(std::chrono::milliseconds(100));
                wait->async_wait([self, &acceptor, wait](beast::error_code) {
                    if (!self->stopped && !self->stopping) self->Accept(acceptor);
                });
                return;
            }
            std::uint64_t id = self->nextId++;
            self->MakeRoom();
            if (self->connections.size() < self->limits.maxConnections) {
                auto connection = std::make_shared<Connection>(self, std::move(socket), id, false);
                self->connections.emplace(id, connection);
                self->count = self->connections.size();
                connection->Start();
            } else if (self->refusing.size() < self->limits.maxConnections) {
                auto connection = std::make_shared<Connection>(self, std::move(socket), id, true);
                self->refusing.emplace(id, connection);
                connection->Start();
            }  // else the socket closes as it goes out of scope
            self->Busy();
            self->ArmIdle();  // when the table is empty all the same
            self->Accept(acceptor);
        });
}

void LoopServer::State::MakeRoom() {
    for (;;) {
        std::shared_ptr<Connection> longest;
        std::size_t waiting = 0;
        for (auto& [id, connection] : connections) {
            if (connection->Waiting() == 0) continue;
            ++waiting;
            if (!longest || connection->Waiting() < longest->Waiting()) longest = connection;
        }
        if (!longest ||
            (waiting < limits.maxPending && connections.size() < limits.maxConnections)) {
            return;
        }
        longest->Finish(kCloseAbnormal);  // never opened: no handler hears of it
    }
}

void LoopServer::State::Ended(std::uint64_t id) {
    connections.erase(id);
    refusing.erase(id);
    count = connections.size();
    if (stopping && connections.empty() && refusing.empty()) FinishStop();
    ArmIdle();
}

void LoopServer::State::FinishStop() {
    if (!stopDone) return;
    if (stopTimer) stopTimer->cancel();
    // Posted, so that it never runs inside a connection's own handler.
    net::post(io, [self = shared_from_this(), done = std::move(stopDone)] {
        if (!self->stopped) done();
    });
    stopDone = nullptr;
}

namespace {

// The host's calls, on the sockets' thread: on Linux that is the caller's, on Windows they are
// posted to the socket thread in the order made.
template <class F>
void OnSockets(LoopServer::State& state, F fn) {
#ifdef _WIN32
    net::post(state.io, [self = state.shared_from_this(), fn = std::move(fn)]() mutable {
        if (!self->stopped) fn(*self);
    });
#else
    fn(state);
#endif
}

void Teardown(LoopServer::State& state) {
    state.stopped = true;
    state.handlers = {};
    for (auto& acceptor : state.acceptors) {
        beast::error_code ec;
        acceptor->close(ec);
    }
    auto connections = std::move(state.connections);
    auto refusing = std::move(state.refusing);
    state.count = 0;
    for (auto& [id, connection] : connections) connection->Finish(kCloseAbnormal, false);
    for (auto& [id, connection] : refusing) connection->Finish(kCloseAbnormal, false);
    if (state.stopTimer) state.stopTimer->cancel();
    if (state.idleTimer) state.idleTimer->cancel();
    state.stopDone = nullptr;
}

}  // namespace

LoopServer::~LoopServer() {
#ifdef _WIN32
    SocketThread& thread = *state_->thread;
    {
        std::lock_guard lock(thread.gate->mutex);
        thread.gate->cancelled = true;
    }
    thread.gate->answered.notify_all();
    net::post(thread.io, [state = state_] {
        Teardown(*state);
        state->io.stop();
    });
    thread.thread.join();
    // What the event loop still holds (connections, through them this state) goes with it; the
    // sockets and timers of this state go first, while the event loop they belong to lives.
    state_->acceptors.clear();
    state_->stopTimer.reset();
    state_->idleTimer.reset();
    std::shared_ptr<SocketThread> owned = std::move(state_->thread);
    owned.reset();
#else
    Teardown(*state_);
#endif
}

std::uint16_t LoopServer::Port() const {
    return state_->port;
}

std::size_t LoopServer::ConnectionCount() const {
    return state_->count;
}

bool LoopServer::Send(std::uint64_t id, std::string text) {
#ifdef _WIN32
    if (state_->thread->gate->open.count(id) == 0) return false;
    // Whether it leaves is the socket thread's to find; queued here is what the host learns.
    OnSockets(*state_, [id, text = std::move(text)](State& state) mutable {
        auto it = state.connections.find(id);
        if (it == state.connections.end()) return;
        auto connection = it->second;  // Send may end it
        connection->Send(std::move(text));
    });
    return true;
#else
    auto it = state_->connections.find(id);
    if (it == state_->connections.end()) return false;
    auto connection = it->second;  // Send may end it
    return connection->Send(std::move(text));
#endif
}

void LoopServer::Close(std::uint64_t id, std::uint16_t code, std::string reason) {
#ifdef _WIN32
    state_->thread->gate->open.erase(id);
#endif
    OnSockets(*state_, [id, code, reason = std::move(reason)](State& state) mutable {
        auto it = state.connections.find(id);
        if (it == state.connections.end()) return;
        auto connection = it->second;
        connection->Close(code, std::move(reason));
    });
}

void LoopServer::Stop(std::uint16_t code, std::chrono::milliseconds grace,
                      std::function<void()> done) {
#ifdef _WIN32
    // `done` is the loop's to run.
    if (done) {
        done = [gate = state_->thread->gate, done = std::move(done)] { gate->Post(done); };
    }
#endif
    OnSockets(*state_, [code, grace, done = std::move(done)](State& state) mutable {
        state.StartStop(code, grace, std::move(done));
    });
}

void LoopServer::State::StartStop(std::uint16_t code, std::chrono::milliseconds grace,
                                  std::function<void()> done) {
    State& state = *this;
    if (state.stopping) return;
    state.stopping = true;
    state.stopDone = std::move(done);
    for (auto& acceptor : state.acceptors) {
        beast::error_code ec;
        acceptor->close(ec);
    }
    std::vector<std::shared_ptr<Connection>> all;
    for (auto& [id, connection] : state.connections) all.push_back(connection);
    for (auto& [id, connection] : state.refusing) all.push_back(connection);
    if (all.empty()) {
        state.FinishStop();
        return;
    }
    state.stopTimer = std::make_unique<net::steady_timer>(state.io);
    state.stopTimer->expires_after(grace);
    state.stopTimer->async_wait([self = shared_from_this()](beast::error_code ec) {
        if (ec || self->stopped) return;
        std::vector<std::shared_ptr<Connection>> left;
        for (auto& [id, connection] : self->connections) left.push_back(connection);
        for (auto& [id, connection] : self->refusing) left.push_back(connection);
        for (auto& connection : left) connection->Finish(kCloseAbnormal);
    });
    for (auto& connection : all) connection->Shutdown(code);
}

}  // namespace talrec::platform
