// What `talrec native-host` refuses, each through the real process as a browser starts it: a
// refusal is answered {"talrec": "refused", "reason": R} and a framing fault not at all; either
// ends the host with status 1, not a crash, and nothing is made in the data folder.
#include <fstream>

#include "host/HostFixture.h"

using namespace talrec::test;
using nlohmann::json;

namespace {

std::string F(const std::string& body) {
    return NativeHostProcess::Frame(body);
}
std::string OpenFrame(const std::string& origin) {
    return F(json{{"talrec", "open"}, {"origin", origin}}.dump());
}

TEST_F(HostTest, NativeHostRefusalsEndItAndRecordNothing) {
    auto consent = StartNative({kExtensionOrigin});
    ASSERT_EQ(Open(*consent, "https://app.example", "allow")["talrec"], "allowed");
    ASSERT_EQ(consent->Wait(std::chrono::seconds(20)), 0);
    const std::string ok = OpenFrame("https://app.example"),
                      huge = NativeHostProcess::Frame("{}", ~0u);
    const std::string rec = F(R"({"jsonrpc":"2.0","id":1,"method":"recStart","params":["a.wav"]})");
    const std::string firefox = tmp_ / "com.talrec.recorder.json";
    struct Case {
        std::vector<std::string> caller;  // empty: ours, as Chromium names it
        std::string input;                // the input is closed after it
        const char* reason;               // nullptr: a framing fault
    } cases[] = {
        {{}, huge, nullptr},
        {{}, NativeHostProcess::Frame("{}", 4 * 1024 * 1024 + 1), nullptr},
        {{}, std::string("\x05\x00", 2), nullptr},
        {{}, NativeHostProcess::Frame("{\"talrec\"", 100), nullptr},
        {{}, F("{\"talrec\":\"open\",\"origin\":\"https://app.example\xff\"}"), nullptr},
        {{}, F("[\"\xc0\xaf\"]"), nullptr},
        {{}, F("{open}"), nullptr},
        {{}, ok + huge, nullptr},
        {{"chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/"},
         ok + rec,
         "extension-not-allowed"},
        {{"chrome-extension://nabnkdmdefeedmjlhnopnpkjibphleki.a/"}, ok, "extension-not-allowed"},
        {{firefox, "evil@example"}, ok, "extension-not-allowed"},
        {{}, OpenFrame("https://other.example") + rec, "not-paired"},
        {{}, OpenFrame("https://app.example:8443"), "not-paired"},
        {{}, rec, "bad-request"},
        {{}, F(R"({"talrec":"open"})"), "bad-request"},
        {{}, OpenFrame("file:///etc/passwd"), "bad-request"},
        {{}, F(R"({"talrec":"open","origin":"https://app.example","x":1})"), "bad-request"},
        {{}, F(R"({"talrec":"revoke","origin":"https://app.example"})"), "bad-request"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(json(c.input).dump(-1, 0, false, json::error_handler_t::replace) +
                     json(c.caller).dump());
        auto host =
            StartNative(c.caller.empty() ? std::vector<std::string>{kExtensionOrigin} : c.caller);
        host->SendRaw(c.input);
        host->CloseInput();
        std::vector<json> answers;
        while (auto message = host->ReadLine(std::chrono::seconds(20))) answers.push_back(*message);
        EXPECT_EQ(host->Wait(std::chrono::seconds(20)), 1) << "ended, not crashed";
        if (c.reason == nullptr) {  // the one fault after the open follows its ready
            EXPECT_EQ(json(answers), c.input.starts_with(ok)
                                         ? json::parse(R"([{"talrec":"ready"}])")
                                         : json::array());
        } else {
            ASSERT_EQ(answers.size(), 1u) << json(answers);
            EXPECT_EQ(answers[0]["talrec"], "refused");
            EXPECT_EQ(answers[0]["reason"], c.reason);
        }
        EXPECT_TRUE(!std::filesystem::exists(Data()) || std::filesystem::is_empty(Data()));
    }
    std::ifstream pairings(tmp_ / "config/talrec/pairings.json");  // no refusal added one
    EXPECT_EQ(json::parse(pairings, nullptr, false).dump().find("other.example"),
              std::string::npos);
}

}  // namespace
