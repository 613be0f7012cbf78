// Bad input to `talrec host`: each gets its JSON-RPC error and the host goes on.
#include <random>

#include "host/HostFixture.h"

using namespace talrec::test;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

constexpr long long kParseError = -32700;
constexpr long long kInvalidRequest = -32600;
constexpr long long kInvalidParams = -32602;
constexpr long long kUnknownName = static_cast<std::int32_t>(0x80020006u);
constexpr long long kBadParamCount = static_cast<std::int32_t>(0x8002000Eu);
constexpr long long kTypeMismatch = static_cast<std::int32_t>(0x80020005u);

// Sends one raw line and returns the error code of the reply it gets.
long long ErrorFor(HostProcess& host, const std::string& line) {
    host.SendRaw(line + "\n");
    auto reply = host.ReadLine(10s);
    if (!reply || !reply->contains("error")) return 0;
    return (*reply)["error"]["code"].get<long long>();
}

void ExpectStillWorks(HostProcess& host) {
    EXPECT_EQ(host.Call("GetErrorString", json::array({0})).result(), "Succeeded");
}

TEST_F(HostTest, MalformedLinesGetProtocolErrors) {
    auto host = Start();
    EXPECT_EQ(ErrorFor(*host, "{not json"), kParseError);
    EXPECT_EQ(ErrorFor(*host, "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"G\xff\"}"), kParseError);
    EXPECT_EQ(
        ErrorFor(*host, R"({"jsonrpc":"2.0","id":1,"method":"recStart","params":["\udc00"]})"),
        kParseError);
    EXPECT_EQ(ErrorFor(*host, "[1,2,3]"), kInvalidRequest);
    EXPECT_EQ(ErrorFor(*host, R"({"jsonrpc":"1.0","id":1,"method":"recStop"})"), kInvalidRequest);
    EXPECT_EQ(ErrorFor(*host, R"({"jsonrpc":"2.0","id":1,"method":"recStart","params":[[1]]})"),
              kInvalidParams);
    EXPECT_EQ(
        ErrorFor(*host, "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"recStart\",\"params\":[\"" +
                            std::string(1024 * 1024, 'a') + "\"]}"),
        kInvalidRequest)
        << "a line of 1 MB";
    ExpectStillWorks(*host);
}

TEST_F(HostTest, AutomationErrorsCarryTheirHresult) {
    auto host = Start();
    EXPECT_EQ(host->Call("NoSuchMethod").errorCode(), kUnknownName);
    EXPECT_EQ(host->Call("#99").errorCode(), static_cast<std::int32_t>(0x80020003u));
    EXPECT_EQ(host->Call("recStart").errorCode(), kBadParamCount);
    EXPECT_EQ(host->Call("recStop", json::array({1})).errorCode(), kBadParamCount);
    EXPECT_EQ(host->Call("GetErrorString", json::array({"abc"})).errorCode(), kTypeMismatch);
    // Coercions automation applies: digits for a long, a number for a string, null for "".
    EXPECT_EQ(host->Call("GetErrorString", json::array({"0"})).result(), "Succeeded");
    EXPECT_EQ(host->Call("SetPcmFormat", json::array({5})).result(), 0);
    auto nullPath = host->Call("recStart", json::array({nullptr}));
    EXPECT_EQ(nullPath.result(), -1) << "the empty path lies in no allowed folder";
    EXPECT_EQ(host->Call("RecordTotalFileName").result(), "");
    ExpectStillWorks(*host);
}

TEST_F(HostTest, RandomBytesNeverCrashOrHangTheHost) {
    auto host = Start();
    std::mt19937 random(20261208);
    std::string noise;
    for (int i = 0; i < 200000; ++i) noise.push_back(static_cast<char>(random()));
    host->SendRaw(noise + "\n");
    ExpectStillWorks(*host);
}

TEST_F(HostTest, EndOfInputQuitsCleanly) {
    auto host = Start();
    host->Call("recStart", json::array({File("a.wav")}));
    host->CloseInput();
    EXPECT_EQ(host->Wait(10s), 0);
    EXPECT_FALSE(std::filesystem::exists(File("a.wav"))) << "a running recording is discarded";
}

TEST_F(HostTest, QuitRepliesAndEnds) {
    auto host = Start();
    EXPECT_EQ(host->Call("host.quit").result(), 0);
    EXPECT_EQ(host->Wait(10s), 0);
}

TEST_F(HostTest, AnUnregisteredControlIsRefused) {
    ASSERT_EQ(RunCommand({BinDir() + "/talrec", "unregister"}, env_), 0);
    auto host = Start();
    EXPECT_FALSE(host->ReadLine(5s).has_value());
    EXPECT_NE(host->Wait(10s), 0);
}

}  // namespace
