// Socket activation: the descriptors a service manager passed, named by LISTEN_PID and
// LISTEN_FDS.
#include "platform/ext/activation.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace talrec::platform {

namespace {

// A whole decimal number from 1 up to `most`, or 0.
long Count(const char* text, long most) {
    if (text == nullptr || *text < '0' || *text > '9') return 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value >= 1 && value <= most ? value : 0;
}

}  // namespace

std::optional<std::vector<int> > ActivatedSockets(std::string& error) {
    constexpr int kFirst = 3;  // after standard input, output and error
    const char* pidText = std::getenv("LISTEN_PID");
    const char* countText = std::getenv("LISTEN_FDS");
    const bool ours = pidText != nullptr && Count(pidText, 1L << 30) == getpid();
    const long count = Count(countText, 1024);
    std::vector<int> sockets;
    for (long i = 0; ours && i < count; ++i) sockets.push_back(kFirst + static_cast<int>(i));
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
    if (ours && count == 0) {
        error = "the service manager's LISTEN_FDS is not a number of descriptors";
        return std::nullopt;
    }
    for (int fd : sockets) {
        const int flags = fcntl(fd, F_GETFD);
        if (flags < 0 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != 0) {
            error = "the service manager's descriptor " + std::to_string(fd) + " is not open";
            return std::nullopt;
        }
    }
    return sockets;
}

}  // namespace talrec::platform
