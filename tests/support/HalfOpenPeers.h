// Peers that keep connections to a loopback port open with half a request head sent, each one
// opened again as soon as the server drops it.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <stop_token>
#include <thread>
#include <vector>

namespace talrec::test {

// A blocking connection to 127.0.0.1:port with a 30 s limit on each read; -1 when refused.
inline int ConnectLoopback(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    timeval limit{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0) return fd;
    close(fd);
    return -1;
}

inline constexpr char kHalfHead[] = "GET / HTTP/1.1\r\nHost: x\r\n";

// Holds `count` such connections until asked to stop, counting those opened: the body of a
// std::jthread.
inline void HoldHalfOpen(std::stop_token stop, std::uint16_t port, std::size_t count,
                         std::atomic<int>& opened) {
    std::vector<int> peers(count, -1);
    for (char byte; !stop.stop_requested();
         std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        for (int& fd : peers) {
            // Dropped (an end or an error, not "nothing yet"): opened again.
            if (fd >= 0 && recv(fd, &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN) continue;
            close(fd);
            if ((fd = ConnectLoopback(port)) < 0) continue;
            send(fd, kHalfHead, sizeof kHalfHead - 1, MSG_NOSIGNAL);
            ++opened;
        }
    }
    for (int fd : peers) close(fd);
}

}  // namespace talrec::test
