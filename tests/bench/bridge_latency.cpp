// How long a page waits on the bridge: the round trip of GetErrorString over `talrec serve`'s
// WebSocket, median and 99th percentile over N calls, beside the same call through
// `talrec host`'s standard input and output in the same run. Prints the figures; run it by hand
// (build/bin/bridge_latency_bench [N], default 1000).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "host/BridgeClient.h"

using namespace talrec::test;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
    double median = 0;
    double p99 = 0;
};

Figures Summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) return {};
    return {samples[samples.size() / 2], samples[(samples.size() * 99) / 100]};
}

template <typename CallFn>
std::vector<double> Time(int rounds, CallFn call) {
    std::vector<double> out;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        if (!call()) return {};
        out.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;
    std::string dir = (std::filesystem::temp_directory_path() / "talrec-bridge-bench").string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "/data");
    std::filesystem::create_directories(dir + "/run");
    std::map<std::string, std::string> env = {{"TALREC_REGISTRY", dir + "/registry"},
                                              {"XDG_DATA_HOME", dir + "/data"},
                                              {"XDG_RUNTIME_DIR", dir + "/run"},
                                              {"TALREC_WAVE_DEVICE", "virtual"}};
    if (RunCommand({BinDir() + "/talrec", "register"}, env) != 0) {
        std::fprintf(stderr, "bridge_latency: registration failed\n");
        return 1;
    }
    const auto request = nlohmann::json::array({0});

    ServeProcess serve(env, dir + "/serve.err");
    WsClient client(serve.port(), "/rpc?token=" + serve.token());
    if (!client.open()) {
        std::fprintf(stderr, "bridge_latency: cannot connect to the bridge\n");
        return 1;
    }
    HostProcess host({}, env);
    for (int i = 0; i < 20; ++i) {  // warm up both
        client.Call("GetErrorString", request);
        host.Call("GetErrorString", request);
    }
    auto bridge = Time(
        rounds, [&] { return client.Call("GetErrorString", request).result() == "Succeeded"; });
    auto stdio =
        Time(rounds, [&] { return host.Call("GetErrorString", request).result() == "Succeeded"; });
    if (bridge.size() != static_cast<std::size_t>(rounds) ||
        stdio.size() != static_cast<std::size_t>(rounds)) {
        std::fprintf(stderr, "bridge_latency: a call failed\n");
        return 1;
    }
    Figures b = Summarise(bridge), h = Summarise(stdio);
    std::printf("GetErrorString round trip over %d calls:\n", rounds);
    std::printf("  talrec serve (WebSocket): median %.0f us, 99th percentile %.0f us\n", b.median,
                b.p99);
    std::printf("  talrec host (stdio):      median %.0f us, 99th percentile %.0f us\n", h.median,
                h.p99);
    client.Close();
    std::filesystem::remove_all(dir);
    return 0;
}
