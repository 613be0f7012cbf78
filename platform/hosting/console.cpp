#include "platform/ext/console.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/consoleapi.h"

namespace {

std::mutex g_mutex;  // guards g_handlers and g_started
std::vector<PHANDLER_ROUTINE> g_handlers;
bool g_started = false;

// The signal thread: signals are blocked in every thread (the mask is set before any other
// thread starts, when the first handler is added) and taken here with sigwait, so handlers
// run on an ordinary thread and may lock, allocate and post.
void SignalThread(sigset_t set) {
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        DWORD type = signal == SIGINT ? CTRL_C_EVENT : CTRL_CLOSE_EVENT;
        std::vector<PHANDLER_ROUTINE> handlers;
        {
            std::lock_guard lock(g_mutex);
            handlers = g_handlers;
        }
        bool handled = false;
        for (auto it = handlers.rbegin(); it != handlers.rend() && !handled; ++it) {
            handled = (*it)(type) != FALSE;
        }
        if (!handled) _exit(128 + signal);
    }
}

}  // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
    if (handler == nullptr) return FALSE;
    std::lock_guard lock(g_mutex);
    if (add) {
        g_handlers.push_back(handler);
        if (!g_started) {
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, SIGINT);
            sigaddset(&set, SIGTERM);
            sigaddset(&set, SIGHUP);
            pthread_sigmask(SIG_BLOCK, &set, nullptr);
            std::thread(SignalThread, set).detach();
            g_started = true;
        }
        return TRUE;
    }
    auto it = std::find(g_handlers.begin(), g_handlers.end(), handler);
    if (it == g_handlers.end()) return FALSE;
    g_handlers.erase(it);
    return TRUE;
}

namespace talrec::platform {

std::FILE* TakeStandardOutput() {
    std::fflush(stdout);
    int protocol = dup(STDOUT_FILENO);
    if (protocol < 0) return nullptr;
    if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        close(protocol);
        return nullptr;
    }
    std::FILE* out = fdopen(protocol, "w");
    if (out == nullptr) close(protocol);
    return out;
}

namespace {
int g_captured = -1;  // the anonymous file standard output writes to; set once
}  // namespace

std::FILE* CaptureStandardOutput() {
    std::fflush(stdout);
    const int file = memfd_create("talrec-stdout", MFD_CLOEXEC);
    if (file < 0) return nullptr;
    // Appending: every write lands at the end, also after a take has emptied the file.
    const int original = dup(STDOUT_FILENO);
    if (original < 0 || fcntl(file, F_SETFL, O_APPEND) != 0 || dup2(file, STDOUT_FILENO) < 0) {
        if (original >= 0) close(original);
        close(file);
        return nullptr;
    }
    std::FILE* out = fdopen(original, "w");
    if (out == nullptr) close(original);
    g_captured = file;
    return out;
}

std::string TakeCapturedOutput() {
    if (g_captured < 0) return {};
    std::fflush(stdout);
    std::string text;
    char chunk[4096];
    for (off_t at = 0;;) {
        const ssize_t n = pread(g_captured, chunk, sizeof chunk, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
        at += n;
    }
    if (!text.empty() && ftruncate(g_captured, 0) != 0) return {};
    return text;
}

bool IsTerminal(std::FILE* stream) {
    return stream != nullptr && isatty(fileno(stream)) == 1;
}

}  // namespace talrec::platform
