// Runs `talrec host` as a separate process for end-to-end tests: requests are written to its
// standard input, protocol lines read from its standard output. The transport is a seam:
// NativeHostProcess frames the same messages as native messaging does, and the bridge's
// client (BridgeClient.h) carries them over a WebSocket.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/ProgramFolder.h"

namespace talrec::test {

// Where talrec is: TALREC_BIN_DIR in the tests, else beside the running program.
inline std::string BinDir() {
    const char* dir = std::getenv("TALREC_BIN_DIR");
    return dir != nullptr ? dir : ProgramFolder();
}

// Runs a command to its end with extra environment; returns its exit status.
inline int RunCommand(const std::vector<std::string>& argv,
                      const std::map<std::string, std::string>& env) {
    pid_t pid = fork();
    if (pid == 0) {
        for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits for the child `pid` to end, setting `exited` once it is reaped; its exit status, or -1
// on a signal or after `timeout`.
inline int WaitForExit(pid_t pid, std::chrono::milliseconds timeout, bool& exited) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        usleep(10000);
    }
    return -1;
}

// Ends the child `pid` at once, as a crash would, and reaps it, unless it has `exited`.
inline void KillChild(pid_t pid, bool& exited) {
    if (pid <= 0 || exited) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    exited = true;
}

class HostProcess {
  public:
    // Runs `talrec host ARGS...`, or `command` followed by ARGS when one is given.
    HostProcess(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                std::vector<std::string> command = {}) {
        if (command.empty()) command = {BinDir() + "/talrec", "host"};
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            close(in[1]);
            close(out[0]);
            std::vector<char*> argv;
            for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
        signal(SIGPIPE, SIG_IGN);
    }
    virtual ~HostProcess() {
        CloseInput();
        if (out_ >= 0) close(out_);
        Kill();
    }
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    void SendRaw(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(in_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }
    virtual void Send(const nlohmann::json& message) { SendRaw(message.dump() + "\n"); }
    // Ends the process at once, as a crash would.
    void Kill() { KillChild(pid_, exited_); }
    void CloseInput() {
        if (in_ >= 0) close(in_);
        in_ = -1;
    }

    // The next protocol message, or nullopt after `timeout` or at the end of output.
    virtual std::optional<nlohmann::json> ReadLine(std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (auto message = Take()) return nlohmann::json::parse(*message);
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[4096];
            ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    struct Reply {
        std::vector<nlohmann::json> notifications;  // before the reply, VolumeStatus left out
        nlohmann::json reply;                       // null when none came
        std::vector<std::string> states() const {
            std::vector<std::string> out;
            for (const auto& n : notifications) {
                if (n["method"] == "RecorderStateNotify") out.push_back(n["params"][0]);
            }
            return out;
        }
        nlohmann::json result() const { return reply.value("result", nlohmann::json()); }
        long long errorCode() const {
            return reply.contains("error") ? reply["error"]["code"].get<long long>() : 0;
        }
    };

    // Sends one request and reads up to its reply; level notifications are counted aside.
    Reply Call(const std::string& method, const nlohmann::json& params = nlohmann::json::array(),
               std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        int id = ++nextId_;
        Send({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}});
        return ReadReply(id, timeout);
    }

    Reply ReadReply(const nlohmann::json& id, std::chrono::milliseconds timeout) {
        Reply reply;
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (auto line = ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(
                   deadline - std::chrono::steady_clock::now()))) {
            if (line->contains("id") && (*line)["id"] == id) {
                reply.reply = *line;
                break;
            }
            Note(*line, reply.notifications);
        }
        return reply;
    }

    // Reads notifications for a while (no request).
    std::vector<nlohmann::json> Drain(std::chrono::milliseconds duration) {
        std::vector<nlohmann::json> out;
        auto deadline = std::chrono::steady_clock::now() + duration;
        while (auto line = ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(
                   deadline - std::chrono::steady_clock::now()))) {
            Note(*line, out);
        }
        return out;
    }

    // Whether host.quit ends the host (a bridge's page cannot end the bridge).
    virtual bool AnswersQuit() const { return true; }

    // Waits for the process to end; its exit status, or -1 on a signal or timeout.
    virtual int Wait(std::chrono::milliseconds timeout) {
        return WaitForExit(pid_, timeout, exited_);
    }

    std::vector<int> levels;  // every VolumeStatus value seen, in order

  protected:
    HostProcess() = default;  // for a transport that starts its host itself

    // One whole message from the front of the output read so far, taken out.
    virtual std::optional<std::string> Take() {
        std::size_t newline = buffer_.find('\n');
        if (newline == std::string::npos) return std::nullopt;
        std::string line = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
        return line;
    }

    void Note(const nlohmann::json& line, std::vector<nlohmann::json>& into) {
        if (line.value("method", "") == "VolumeStatus") {
            levels.push_back(line["params"][0].get<int>());
        } else {
            into.push_back(line);
        }
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool exited_ = false;
    std::string buffer_;
    int nextId_ = 0;
};

// `talrec native-host`: each message a 32-bit length in the machine's order, then the JSON.
class NativeHostProcess : public HostProcess {
  public:
    using HostProcess::HostProcess;
    void Send(const nlohmann::json& message) override { SendRaw(Frame(message.dump())); }
    static std::string Frame(const std::string& body, std::uint32_t length) {
        std::string frame(4, '\0');
        std::memcpy(frame.data(), &length, 4);
        return frame + body;
    }
    static std::string Frame(const std::string& body) {
        return Frame(body, static_cast<std::uint32_t>(body.size()));
    }

  protected:
    std::optional<std::string> Take() override {
        std::uint32_t length = 0;
        if (buffer_.size() < 4) return std::nullopt;
        std::memcpy(&length, buffer_.data(), 4);
        if (buffer_.size() < 4 + std::size_t{length}) return std::nullopt;
        std::string body = buffer_.substr(4, length);
        buffer_.erase(0, 4 + std::size_t{length});
        return body;
    }
};

}  // namespace talrec::test
