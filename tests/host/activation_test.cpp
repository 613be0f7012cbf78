// `talrec serve` started by a service manager (systemd-socket-activate): it serves the socket
// handed over, stops by itself once idle, and refuses descriptors that are not loopback
// listening sockets.
#include <gtest/gtest.h>

#include <thread>

#include "host/BridgeClient.h"
#include "support/TempDir.h"

using namespace talrec::test;
using namespace std::chrono_literals;

namespace {

const auto kLoopback = boost::asio::ip::make_address("127.0.0.1");

class SocketActivation : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(tmp_ / "data/quorvex");
        ASSERT_EQ(RunCommand({BinDir() + "/talrec", "register"}, env_), 0);
    }
    // The activator listening on `at`, passing on this test's environment (it passes none).
    std::vector<std::string> Activator(const std::string& at) const {
        std::vector<std::string> out{"systemd-socket-activate", "-l", at};
        for (char** e = environ; *e; ++e) out.insert(out.end(), {"-E", *e});
        for (const auto& [name, value] : env_) out.insert(out.end(), {"-E", name + "=" + value});
        return out;
    }

    TempDir tmp_;
    std::string state_ = tmp_ / "run/talrec/serve.json";
    std::map<std::string, std::string> env_ = {{"TALREC_REGISTRY", tmp_ / "registry"},
                                               {"XDG_DATA_HOME", tmp_ / "data"},
                                               {"XDG_RUNTIME_DIR", tmp_ / "run"},
                                               {"TALREC_WAVE_DEVICE", "virtual"},
                                               {"TALREC_SERVE_IDLE_SECONDS", "2"}};
};

// The activator starts its program at the first connection: connects until one is taken.
std::jthread Knock(std::uint16_t port) {
    return std::jthread([port](std::stop_token stop) {
        boost::asio::io_context io;
        for (boost::system::error_code ec; !stop.stop_requested();) {
            tcp::socket(io).connect(tcp::endpoint(kLoopback, port), ec);
            if (!ec) return;
            std::this_thread::sleep_for(50ms);
        }
    });
}

std::uint16_t FreePort() {
    boost::asio::io_context io;
    return tcp::acceptor(io, tcp::endpoint(kLoopback, 0)).local_endpoint().port();
}

TEST_F(SocketActivation, ServesTheHandedSocketAndStopsOnceIdle) {
    const std::uint16_t port = FreePort();
    std::jthread knock = Knock(port);
    ServeProcess serve(env_, tmp_ / "serve.err", {},
                       Activator("127.0.0.1:" + std::to_string(port)));
    ASSERT_EQ(serve.port(), port) << serve.firstLine() << ReadFile(tmp_ / "serve.err");
    EXPECT_EQ(nlohmann::json::parse(ReadFile(state_))["port"], port);
    const std::string take = tmp_ / "data/quorvex/take.wav";
    {
        WsClient client(port, "/rpc?token=" + serve.token());
        ASSERT_TRUE(client.open());
        EXPECT_EQ(client.Call("recStart", {take}).states(),
                  std::vector<std::string>{"record-start"});
        // Longer than the idle time: an open connection keeps the bridge.
        std::this_thread::sleep_for(3s);
        EXPECT_EQ(client.Call("recStop").states(), std::vector<std::string>{"record-stop"});
        client.Close();
    }
    EXPECT_GT(std::filesystem::file_size(take), 44u + 22050 * 4);
    EXPECT_EQ(serve.Wait(60s), 0) << ReadFile(tmp_ / "serve.err");
    EXPECT_FALSE(std::filesystem::exists(state_));
}

TEST_F(SocketActivation, RefusesDescriptorsThatAreNotLoopbackListeningSockets) {
    const std::string port = std::to_string(FreePort());
    boost::asio::io_context io;
    tcp::acceptor peer(io, tcp::endpoint(kLoopback, 0));
    const std::string handOver = "LISTEN_PID=$$ LISTEN_FDS=1 exec \"$0\" \"$@\"";
    const std::string fd3 = "descriptor 3 from the service manager ";
    const std::string peerPort = std::to_string(peer.local_endpoint().port());
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"sh", "-c", handOver + " 3</dev/null"}, fd3 + "is not a socket"},
        {{"bash", "-c", "exec 3<>/dev/tcp/127.0.0.1/" + peerPort + "; " + handOver},
         fd3 + "is a TCP socket that does not listen"},
        {Activator("0.0.0.0:" + port),
         fd3 + "listens on 0.0.0.0:" + port + ", not on 127.0.0.1 or [::1]"},
    };
    for (const auto& [launcher, says] : cases) {
        std::jthread knock = Knock(static_cast<std::uint16_t>(std::stoi(port)));
        ServeProcess serve(env_, tmp_ / "refused.err", {}, launcher);
        EXPECT_EQ(serve.Wait(60s), 1) << says;
        EXPECT_NE(ReadFile(tmp_ / "refused.err").find("talrec serve: " + says + "\n"),
                  std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(state_)) << says;
    }
}

}  // namespace
