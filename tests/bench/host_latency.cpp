// How long a script waits on `talrec host`: the median time from writing a GetErrorString
// request to reading its reply, and from writing recStart to reading its "record-start"
// notification. Prints the figures; run it by hand (build/bin/host_latency_bench [N]).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "host/HostProcess.h"

using namespace talrec::test;
using Clock = std::chrono::steady_clock;

namespace {

double MedianMicros(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples.empty() ? 0 : samples[samples.size() / 2];
}

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    std::string dir = (std::filesystem::temp_directory_path() / "talrec-host-bench").string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "/data");
    std::map<std::string, std::string> env = {{"TALREC_REGISTRY", dir + "/registry"},
                                              {"XDG_DATA_HOME", dir + "/data"},
                                              {"TALREC_WAVE_DEVICE", "virtual"}};
    if (RunCommand({BinDir() + "/talrec", "register"}, env) != 0) {
        std::fprintf(stderr, "host_latency: registration failed\n");
        return 1;
    }
    HostProcess host({}, env);
    host.Call("GetErrorString", nlohmann::json::array({0}));  // warm up

    std::vector<double> calls;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        auto reply = host.Call("GetErrorString", nlohmann::json::array({0}));
        calls.push_back(Micros(Clock::now() - start));
        if (reply.result() != "Succeeded") return 1;
    }

    std::vector<double> starts;
    std::string path = dir + "/data/quorvex/bench.wav";
    for (int i = 0; i < std::max(1, rounds / 10); ++i) {
        auto start = Clock::now();
        host.Send(
            {{"jsonrpc", "2.0"}, {"id", "start"}, {"method", "recStart"}, {"params", {path}}});
        while (auto line = host.ReadLine(std::chrono::seconds(10))) {
            if (line->value("method", "") == "RecorderStateNotify") {
                starts.push_back(Micros(Clock::now() - start));
                break;
            }
        }
        host.ReadReply("start", std::chrono::seconds(10));
        host.Call("recStop");
    }
    std::printf("GetErrorString request to reply: median %.0f us over %zu calls\n",
                MedianMicros(calls), calls.size());
    std::printf("recStart request to \"record-start\": median %.0f us over %zu starts\n",
                MedianMicros(starts), starts.size());
    std::filesystem::remove_all(dir);
    return 0;
}
