// Runs `talrec serve` for end-to-end tests and talks to it: a WebSocket client for its JSON-RPC
// and a plain HTTP client, both blocking with generous time limits (Boost.Beast, synchronous).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/HostProcess.h"

namespace talrec::test {

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;
using tcp = boost::asio::ip::tcp;

// Every blocking read or write of a test socket gives up after this.
inline void SetSocketTimeout(tcp::socket& socket, int seconds = 30) {
    timeval tv{seconds, 0};
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    socket.set_option(tcp::no_delay(true));
}

class ServeProcess {
  public:
    // `launcher`, when given, runs first with talrec's command line as its arguments.
    ServeProcess(const std::map<std::string, std::string>& env, const std::string& stderrPath,
                 std::vector<std::string> args = {}, std::vector<std::string> launcher = {}) {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
            dup2(out[1], STDOUT_FILENO);
            int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(err, STDERR_FILENO);
            close(out[0]);
            std::string program = BinDir() + "/talrec";
            std::vector<char*> argv;
            for (auto& a : launcher) argv.push_back(a.data());
            argv.insert(argv.end(), {const_cast<char*>(program.c_str()), const_cast<char*>("serve"),
                                     const_cast<char*>("--port"), const_cast<char*>("0")});
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
        signal(SIGPIPE, SIG_IGN);
        // The first line: http://127.0.0.1:PORT/#code=CODE; the run's token is in serve.json.
        std::string line;
        pollfd p{out_, POLLIN, 0};
        while (line.find('\n') == std::string::npos && poll(&p, 1, 30000) > 0) {
            char c[256];
            ssize_t n = read(out_, c, sizeof c);
            if (n <= 0) break;
            line.append(c, static_cast<std::size_t>(n));
        }
        firstLine_ = line.substr(0, line.find('\n'));
        std::size_t colon = firstLine_.rfind(':');
        std::size_t hash = firstLine_.find("/#code=");
        if (colon != std::string::npos && hash != std::string::npos) {
            port_ = static_cast<std::uint16_t>(std::stoi(firstLine_.substr(colon + 1)));
            code_ = firstLine_.substr(hash + 7);
            std::ifstream state(env.at("XDG_RUNTIME_DIR") + "/talrec/serve.json");
            token_ = nlohmann::json::parse(state, nullptr, false).value("token", "");
        }
    }
    ~ServeProcess() {
        if (out_ >= 0) close(out_);
        KillChild(pid_, exited_);
    }
    ServeProcess(const ServeProcess&) = delete;
    ServeProcess& operator=(const ServeProcess&) = delete;

    std::uint16_t port() const { return port_; }
    const std::string& token() const { return token_; }
    const std::string& code() const { return code_; }  // the printed address's
    const std::string& firstLine() const { return firstLine_; }
    pid_t pid() const { return pid_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string origin() const { return "http://" + host(); }

    void Signal(int signal) { kill(pid_, signal); }
    // The exit status, or -1 on a signal or after `timeout`.
    int Wait(std::chrono::milliseconds timeout) { return WaitForExit(pid_, timeout, exited_); }

    // The process's thread count and open descriptors.
    int Threads() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string key;
        while (status >> key) {
            if (key == "Threads:") {
                int n = 0;
                status >> n;
                return n;
            }
        }
        return -1;
    }
    int Descriptors() const {
        int n = 0;
        std::error_code ec;
        for (auto it =
                 std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ec);
             it != std::filesystem::directory_iterator(); ++it) {
            ++n;
        }
        return n;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool exited_ = false;
    std::uint16_t port_ = 0;
    std::string token_;
    std::string code_;
    std::string firstLine_;
};

struct HttpReply {
    int status = 0;
    std::map<std::string, std::string> headers;
    std::string body;
};

// One GET (or other method, with a body) on its own connection; status 0 when there was no
// answer.
inline HttpReply HttpGet(std::uint16_t port, const std::string& target,
                         std::map<std::string, std::string> headers = {},
                         const std::string& method = "GET", const std::string& body = "") {
    HttpReply out;
    boost::asio::io_context io;
    tcp::socket socket(io);
    beast::error_code ec;
    socket.connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port), ec);
    if (ec) return out;
    SetSocketTimeout(socket);
    http::request<http::string_body> request(http::string_to_verb(method), target, 11);
    if (headers.count("Host") == 0) headers["Host"] = "127.0.0.1:" + std::to_string(port);
    for (const auto& [name, value] : headers) request.set(name, value);
    request.set(http::field::connection, "close");
    if (!body.empty()) request.body() = body, request.prepare_payload();
    http::write(socket, request, ec);
    if (ec) return out;
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(256 * 1024 * 1024);
    if (method == "HEAD") parser.skip(true);
    http::read(socket, buffer, parser, ec);
    if (ec) return out;
    out.status = static_cast<int>(parser.get().result_int());
    for (const auto& field : parser.get()) {
        out.headers[std::string(field.name_string())] = std::string(field.value());
    }
    out.body = parser.get().body();
    return out;
}

// The status a WebSocket upgrade request gets (101 when accepted); its subprotocol in `protocol`.
inline int UpgradeStatus(std::uint16_t port, const std::string& target,
                         std::map<std::string, std::string> headers = {},
                         std::string* protocol = nullptr) {
    headers["Connection"] = "Upgrade";
    headers["Upgrade"] = "websocket";
    headers["Sec-WebSocket-Version"] = "13";
    headers["Sec-WebSocket-Key"] = "dGhlIHNhbXBsZSBub25jZQ==";
    boost::asio::io_context io;
    tcp::socket socket(io);
    beast::error_code ec;
    socket.connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port), ec);
    if (ec) return 0;
    SetSocketTimeout(socket);
    http::request<http::empty_body> request(http::verb::get, target, 11);
    if (headers.count("Host") == 0) headers["Host"] = "127.0.0.1:" + std::to_string(port);
    for (const auto& [name, value] : headers) request.set(name, value);
    http::write(socket, request, ec);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    if (!ec) http::read(socket, buffer, response, ec);
    if (protocol) *protocol = std::string(response[http::field::sec_websocket_protocol]);
    return ec ? 0 : static_cast<int>(response.result_int());
}

class WsClient {
  public:
    // Connects to ws://127.0.0.1:PORT`target`.
    WsClient(std::uint16_t port, const std::string& target,
             std::map<std::string, std::string> headers = {})
        : ws_(io_) {
        beast::error_code ec;
        auto& socket = ws_.next_layer();
        socket.connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port), ec);
        if (ec) return;
        SetSocketTimeout(socket);
        if (headers.count("Host") == 0) headers["Host"] = "127.0.0.1:" + std::to_string(port);
        std::string host = headers["Host"];
        headers.erase("Host");
        ws_.set_option(websocket::stream_base::decorator([headers](websocket::request_type& r) {
            for (const auto& [name, value] : headers) r.set(name, value);
        }));
        ws_.read_message_max(64 * 1024 * 1024);
        ws_.handshake(host, target, ec);
        open_ = !ec;
    }

    bool open() const { return open_; }

    bool SendText(const std::string& text) {
        beast::error_code ec;
        ws_.text(true);
        ws_.write(boost::asio::buffer(text), ec);
        return !ec;
    }
    bool SendBinary(const std::string& bytes) {
        beast::error_code ec;
        ws_.binary(true);
        ws_.write(boost::asio::buffer(bytes), ec);
        return !ec;
    }

    // The next message, or nullopt when the connection closed (CloseCode() then says how) or
    // nothing came in time.
    std::optional<nlohmann::json> Read() {
        beast::flat_buffer buffer;
        beast::error_code ec;
        ws_.read(buffer, ec);
        if (ec) {
            open_ = false;
            closeCode_ = ec == websocket::error::closed ? ws_.reason().code : -1;
            return std::nullopt;
        }
        return nlohmann::json::parse(beast::buffers_to_string(buffer.data()), nullptr, false);
    }

    struct Reply {
        std::vector<nlohmann::json> notifications;  // before the reply, VolumeStatus aside
        nlohmann::json reply;
        std::vector<std::string> states() const {
            std::vector<std::string> out;
            for (const auto& n : notifications) {
                if (n.value("method", "") == "RecorderStateNotify") out.push_back(n["params"][0]);
            }
            return out;
        }
        nlohmann::json result() const { return reply.value("result", nlohmann::json()); }
    };

    // Sends a request and reads up to its reply.
    Reply Call(const std::string& method, const nlohmann::json& params = nlohmann::json::array()) {
        int id = ++nextId_;
        SendText(
            nlohmann::json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}}
                .dump());
        return ReadReply(id);
    }
    Reply ReadReply(const nlohmann::json& id) {
        Reply reply;
        while (auto message = Read()) {
            if (message->contains("id") && (*message)["id"] == id) {
                reply.reply = *message;
                break;
            }
            Note(*message, reply.notifications);
        }
        return reply;
    }

    void Close() {
        beast::error_code ec;
        ws_.close(websocket::close_code::normal, ec);
        open_ = false;
    }
    int CloseCode() const { return closeCode_; }

    std::vector<nlohmann::json> events;  // notifications seen outside Call, VolumeStatus aside
    std::vector<int> levels;

  private:
    void Note(const nlohmann::json& message, std::vector<nlohmann::json>& into) {
        if (message.value("method", "") == "VolumeStatus") {
            levels.push_back(message["params"][0].get<int>());
        } else {
            into.push_back(message);
        }
    }

    boost::asio::io_context io_;
    websocket::stream<tcp::socket> ws_;
    bool open_ = false;
    int closeCode_ = 0;
    int nextId_ = 0;
};

// The bridge as a HostProcess transport: `talrec serve` and one WebSocket to /rpc with the
// run's token, every socket operation on the io_context's thread, what comes queued for reads
// that wait for a limited time as the pipe transports' do.
class BridgeHost : public HostProcess {
  public:
    BridgeHost(const std::map<std::string, std::string>& env, const std::string& stderrPath)
        : serve_(env, stderrPath), ws_(io_) {
        beast::error_code ec;
        ws_.next_layer().connect(
            tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), serve_.port()), ec);
        if (!ec) ws_.handshake(serve_.host(), "/rpc?token=" + serve_.token(), ec);
        if (ec) return;
        ReadNext();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~BridgeHost() override {
        boost::asio::post(io_, [this] { ws_.next_layer().close(ec_); });
        if (thread_.joinable()) thread_.join();
    }
    void Send(const nlohmann::json& message) override {
        boost::asio::post(io_, [this, text = message.dump()] {
            ws_.write(boost::asio::buffer(text), ec_);  // small: the socket takes it at once
        });
    }
    std::optional<nlohmann::json> ReadLine(std::chrono::milliseconds timeout) override {
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, timeout, [this] { return !inbox_.empty() || closed_; });
        if (inbox_.empty()) return std::nullopt;
        std::string text = std::move(inbox_.front());
        inbox_.pop_front();
        return nlohmann::json::parse(text);
    }
    bool AnswersQuit() const override { return false; }
    // The page leaves and the bridge is stopped as a service manager stops it: its status.
    int Wait(std::chrono::milliseconds timeout) override {
        serve_.Signal(SIGTERM);
        return serve_.Wait(timeout);
    }

  private:
    void ReadNext() {
        ws_.async_read(incoming_, [this](beast::error_code ec, std::size_t) {
            std::lock_guard lock(mutex_);
            closed_ = static_cast<bool>(ec);
            if (!ec) inbox_.push_back(beast::buffers_to_string(incoming_.data()));
            incoming_.consume(incoming_.size());
            ready_.notify_all();
            if (!ec) ReadNext();
        });
    }

    ServeProcess serve_;
    boost::asio::io_context io_;
    websocket::stream<tcp::socket> ws_;
    beast::error_code ec_;  // the io_context's thread only
    beast::flat_buffer incoming_;
    std::mutex mutex_;  // guards inbox_ and closed_
    std::condition_variable ready_;
    std::deque<std::string> inbox_;
    bool closed_ = false;
    std::thread thread_;
};

}  // namespace talrec::test
