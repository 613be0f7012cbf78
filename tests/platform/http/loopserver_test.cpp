// The loopback server's table, with small limits, under peers that never finish a request
// head: a client that sends its request at once still gets in, open WebSockets are never
// dropped for newcomers (a table full of them answers 503), and a head begun in a crowded
// table gets the short deadline. A request body is read up to 64 KiB; a larger one is refused.
#include "platform/ext/loopserver.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/ext/messageloop.h"
#include "platform/winuser.h"
#include "support/HalfOpenPeers.h"

namespace talrec::platform {
namespace {

using namespace std::chrono_literals;

// The first line of the server's answer to `request` on a new connection (kept open in
// `*keep` when given), or its whole head (`whole`), or "" when it dropped the connection.
std::string Answer(std::uint16_t port, const std::string& request, int* keep = nullptr,
                   bool whole = false) {
    const int fd = test::ConnectLoopback(port);
    std::string answer;
    char chunk[512];
    ssize_t n = send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    while (n > 0 && answer.find("\r\n\r\n") == std::string::npos) {
        if ((n = recv(fd, chunk, sizeof chunk, 0)) > 0) answer.append(chunk, std::size_t(n));
    }
    keep ? void(*keep = fd) : void(close(fd));
    return n > 0 ? answer.substr(0, whole ? answer.find("\r\n\r\n") : answer.find("\r\n")) : "";
}

TEST(LoopServer, PeersThatNeverFinishARequestCannotKeepAClientOut) {
    const std::string get = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string upgrade =
        "GET / HTTP/1.1\r\nHost: x\r\nConnection: Upgrade\r\nUpgrade: "
        "websocket\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Key: "
        "dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    MessageLoop loop;
    // 8 places, 4 for waits that only a newcomer or the crowded deadline (300 ms) ends.
    LoopServerLimits limits{8, 4, 1 << 20, 60s, 300ms, 1 << 20};
    LoopServerHandlers handlers;  // requests are answered 404, WebSockets accepted
    handlers.onUpgrade = [](const HttpRequest&) { return std::optional<HttpResponse>(); };
    std::string error;
    auto server = LoopServer::Start(0, handlers, limits, error);
    ASSERT_TRUE(server) << error;
    std::thread scenario([&, port = server->Port()] {
        const std::string post = "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: ";
        EXPECT_EQ(Answer(port, post + "3\r\n\r\nabc"), "HTTP/1.1 404 Not Found");
        EXPECT_EQ(Answer(port, post + "65537\r\n\r\n"), "HTTP/1.1 413 Payload Too Large");
        std::vector<int> pages(8);
        for (int i = 0; i < 3; ++i) Answer(port, upgrade, &pages[i]);
        std::atomic<int> opened{0};
        std::jthread peers(test::HoldHalfOpen, port, 40, std::ref(opened));
        for (int i = 0; i < 30; ++i, std::this_thread::sleep_for(20ms)) {
            EXPECT_EQ(Answer(port, get), "HTTP/1.1 404 Not Found") << i << " of 30";
        }
        peers = {};
        EXPECT_GT(opened, 40) << "the peers were dropped and came back";
        EXPECT_EQ(Answer(port, test::kHalfHead), "") << "dropped at the crowded table's deadline";
        for (int i = 3; i < 8; ++i) Answer(port, upgrade, &pages[i]);
        const std::string busy = Answer(port, get, nullptr, true);
        EXPECT_EQ(busy.substr(0, busy.find("\r\n")), "HTTP/1.1 503 Service Unavailable")
            << "a table of 8 pages: none is dropped for a newcomer";
        EXPECT_NE(busy.find("\r\nAccess-Control-Allow-Origin: *"), std::string::npos) << busy;
        for (int page : pages) close(page);
        loop.Quit(0);
    });
    loop.Run();
    scenario.join();
}

}  // namespace
}  // namespace talrec::platform
