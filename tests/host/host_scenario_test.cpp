// One scenario, kept as data (tests/host/scenarios/*.jsonl) so that the same file drives every
// way a script reaches the control: `talrec host`, `talrec native-host` (native messaging, after
// its open and ready) and the bridge (`talrec serve`, a WebSocket), and the Windows host under
// Wine (scripts/test-windows.sh sets TALREC_SCENARIO_HOST to its command line, words split at
// spaces). One JSON object a line:
//   {"call": M, "params": [...], "result": R, "states": [...], "boxes": [...], "as": NAME}
//     calls M; checks its result, the state strings and message boxes before the reply;
//     "as" keeps the result for "${NAME}" in later strings
//   {"pause": MS}           reads events for MS milliseconds (the recorder runs meanwhile)
//   {"await": [E...]}       reads events until these (state strings or event names) came, in
//                           this order and nothing else between them, within a minute
//   {"levels": N}           at least N level events came so far
#include <algorithm>
#include <boost/beast/core/detail/base64.hpp>
#include <fstream>
#include <random>
#include <sstream>

#include "host/BridgeClient.h"
#include "host/HostFixture.h"

using namespace talrec::test;
using nlohmann::json;

namespace {

// The line with each "${NAME}" replaced by NAME's value, escaped for a JSON string.
std::string Substitute(std::string text, const std::map<std::string, std::string>& names) {
    for (const auto& [name, value] : names) {
        const std::string key = "${" + name + "}", escaped = json(value).dump();
        const std::string replacement = escaped.substr(1, escaped.size() - 2);
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
            text.replace(at, key.size(), replacement);
            at += replacement.size();
        }
    }
    return text;
}

void RunScenario(HostProcess* host) {
    std::ifstream file(TALREC_HOST_SCENARIO);
    std::map<std::string, std::string> names;
    std::string text;
    for (int lineNumber = 1; std::getline(file, text); ++lineNumber) {
        SCOPED_TRACE("scenario line " + std::to_string(lineNumber) + ": " + text);
        const json step = json::parse(Substitute(text, names));
        if (step.contains("pause")) {
            host->Drain(std::chrono::milliseconds(step["pause"].get<int>()));
        } else if (step.contains("await")) {
            std::vector<std::string> seen;
            const auto want = step["await"].get<std::vector<std::string>>();
            while (seen.size() < want.size()) {
                auto line = host->ReadLine(std::chrono::minutes(1));
                ASSERT_TRUE(line.has_value()) << "only these came: " << json(seen);
                if ((*line)["method"] == "VolumeStatus") continue;
                seen.push_back((*line)["method"] == "RecorderStateNotify" ? (*line)["params"][0]
                                                                          : (*line)["method"]);
            }
            EXPECT_EQ(seen, want);
        } else if (step.contains("levels")) {
            EXPECT_GE(host->levels.size(), step["levels"].get<std::size_t>());
        } else if (step["call"] == "host.quit" && !host->AnswersQuit()) {
            continue;  // a page cannot end the bridge; Wait stops it
        } else {
            auto reply = host->Call(step["call"], step.value("params", json::array()));
            ASSERT_FALSE(reply.reply.is_null()) << "no reply";
            if (step.contains("result")) {
                EXPECT_EQ(reply.result(), step["result"]) << reply.reply;
            }
            if (step.contains("states")) {
                EXPECT_EQ(json(reply.states()), step["states"]);
            }
            if (step.contains("boxes")) {
                json boxes = json::array();
                for (const json& n : reply.notifications) {
                    if (n["method"] == "host.messageBox") boxes.push_back(n["params"][0]);
                }
                EXPECT_EQ(boxes, step["boxes"]);
            }
            if (step.contains("as")) names[step["as"]] = reply.result().get<std::string>();
        }
    }
    EXPECT_EQ(names.count("data"), 1u) << "the scenario was read";
    EXPECT_EQ(host->Wait(std::chrono::seconds(30)), 0);
}

TEST_F(HostTest, RecordPausePlayConvertDeleteScenario) {
    std::unique_ptr<HostProcess> host;
    if (const char* command = std::getenv("TALREC_SCENARIO_HOST")) {
        std::istringstream words(command);
        std::vector<std::string> argv{std::istream_iterator<std::string>(words), {}};
        host = std::make_unique<HostProcess>(std::vector<std::string>{}, env_, argv);
    } else {
        host = Start();
    }
    RunScenario(host.get());
}

TEST_F(HostTest, TheScenarioOverTheBridge) {
    BridgeHost bridge(env_, tmp_ / "serve.err");
    RunScenario(&bridge);
}

// Over native messaging (its consent given by Firefox's call, the page served on Chromium's);
// then the page lists the data folder, reads a file's pieces byte for byte and reaches nothing
// outside it.
TEST_F(HostTest, TheScenarioOverNativeMessagingAndItsFiles) {
    auto consent = StartNative({tmp_ / "com.talrec.recorder.json", "recorder@talrec"});
    EXPECT_EQ(Open(*consent, "https://App.example:443", "allow"),
              json({{"talrec", "allowed"}, {"origin", "https://app.example"}}));
    EXPECT_EQ(consent->Wait(std::chrono::seconds(20)), 0);
    for (int run = 0; run < 2; ++run) {
        auto host = StartNative();
        ASSERT_EQ(Open(*host, "https://app.example"), json({{"talrec", "ready"}}));
        if (run == 0) {
            RunScenario(host.get());
            continue;
        }
        std::string bytes(700 * 1024, '\0');
        std::generate(bytes.begin(), bytes.end(), std::mt19937(7));
        std::ofstream(Data() + "/blob.bin", std::ios::binary) << bytes << std::flush;
        std::filesystem::create_directory(Data() + "/sub");
        std::filesystem::create_symlink(CountingSource(), Data() + "/link.wav");
        EXPECT_EQ(host->Call("host.listFiles").result()[0]["size"], bytes.size());
        // A read gives at most 512 KiB and the file's size; the last piece ends the file.
        for (const std::size_t offset : {std::size_t{0}, bytes.size() - 3}) {
            const json piece = host->Call("host.readFile", {"blob.bin", offset, 1 << 20}).result();
            std::string data = piece["data"], raw(data.size(), '\0');
            raw.resize(
                boost::beast::detail::base64::decode(raw.data(), data.data(), data.size()).first);
            EXPECT_EQ(piece["size"], bytes.size());
            EXPECT_TRUE(raw == bytes.substr(offset, 512 * 1024)) << offset;
        }
        for (const json& name :
             {json("../../counting.wav"), json("link.wav"), json("sub"), json(""), json(7)}) {
            EXPECT_EQ(host->Call("host.readFile", {name, 0, 10}).errorCode(), -32602) << name;
        }
        EXPECT_EQ(host->Call("host.listFiles").result().size(), 1u) << "blob.bin alone";
        host->CloseInput();
        EXPECT_EQ(host->Wait(std::chrono::seconds(20)), 0) << "the end of input ends it";
    }
}

}  // namespace
