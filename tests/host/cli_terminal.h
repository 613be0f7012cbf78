// Runs a talrec subcommand under a pseudo-terminal, as a person at a terminal would: its
// output is collected from the terminal's master side, key presses are written there.
#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "host/HostProcess.h"

namespace talrec::test {

class CliTerminal {
  public:
    CliTerminal(const std::vector<std::string>& args,
                const std::map<std::string, std::string>& env) {
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
            std::string program = BinDir() + "/talrec";
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~CliTerminal() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }
    CliTerminal(const CliTerminal&) = delete;
    CliTerminal& operator=(const CliTerminal&) = delete;

    void Type(const std::string& keys) { (void)!write(master_, keys.data(), keys.size()); }
    void Signal(int signal) { kill(pid_, signal); }

    // Reads output until `text` appears in it (true) or the timeout passes.
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (output_.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline || !Pump(20)) return false;
        }
        return true;
    }

    // Reads output until the process ends; its exit status, or -1 after a timeout or signal.
    int Wait(std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            Pump(20);
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                while (Pump(20)) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
        }
        return -1;
    }

    const std::string& output() const { return output_; }

  private:
    // False once the terminal has nothing more to give (the child has gone).
    bool Pump(int timeoutMs) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return !exited_;
        char chunk[4096];
        ssize_t n = read(master_, chunk, sizeof chunk);
        if (n <= 0) return false;
        output_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int master_ = -1;
    bool exited_ = false;
    std::string output_;
};

}  // namespace talrec::test
