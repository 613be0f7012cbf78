#include <gtest/gtest.h>

#include <sstream>

#include "host/rpc/LineReader.h"
#include "host/rpc/RpcProtocol.h"

using namespace talrec::host;
using nlohmann::json;

namespace {

ErrorReply ExpectError(const std::string& line) {
    auto parsed = ParseRequestLine(line);
    EXPECT_TRUE(std::holds_alternative<ErrorReply>(parsed)) << line;
    return std::holds_alternative<ErrorReply>(parsed) ? std::get<ErrorReply>(parsed)
                                                      : ErrorReply{nullptr, 0, ""};
}

TEST(RpcProtocol, ParsesRequestsAndNotifications) {
    auto parsed =
        ParseRequestLine(R"({"jsonrpc":"2.0","id":7,"method":"recStart","params":["/a.wav"]})");
    ASSERT_TRUE(std::holds_alternative<Request>(parsed));
    const Request& request = std::get<Request>(parsed);
    EXPECT_EQ(request.id, 7);
    EXPECT_FALSE(request.isNotification);
    EXPECT_EQ(request.method, "recStart");
    EXPECT_EQ(request.params, json::array({"/a.wav"}));

    parsed = ParseRequestLine(R"({"jsonrpc":"2.0","method":"host.quit"})");
    ASSERT_TRUE(std::holds_alternative<Request>(parsed));
    EXPECT_TRUE(std::get<Request>(parsed).isNotification);
    EXPECT_EQ(std::get<Request>(parsed).params, json::array());
}

TEST(RpcProtocol, RejectsWhatIsNotJsonAsParseErrors) {
    EXPECT_EQ(ExpectError("{not json").code, kParseError);
    EXPECT_EQ(ExpectError("").code, kParseError);
    // Invalid UTF-8 inside a string, and a lone UTF-16 surrogate escape.
    EXPECT_EQ(ExpectError("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"a\xff\"}").code, kParseError);
    EXPECT_EQ(ExpectError(R"({"jsonrpc":"2.0","id":1,"method":"x","params":["\ud800"]})").code,
              kParseError);
}

TEST(RpcProtocol, RejectsJsonThatIsNotARequest) {
    EXPECT_EQ(ExpectError("[1,2]").code, kInvalidRequest);
    EXPECT_EQ(ExpectError("42").code, kInvalidRequest);
    EXPECT_EQ(ExpectError(R"({"id":3,"method":"x"})").code, kInvalidRequest);
    EXPECT_EQ(ExpectError(R"({"jsonrpc":"2.0","id":3})").id, 3) << "the id is kept when known";
    EXPECT_EQ(ExpectError(R"({"jsonrpc":"2.0","id":{},"method":"x"})").code, kInvalidRequest);
    EXPECT_EQ(ExpectError(R"({"jsonrpc":"2.0","id":1,"method":"x","params":{"a":1}})").code,
              kInvalidParams);
}

TEST(RpcProtocol, FormatsRepliesAndNotificationsOnOneLine) {
    EXPECT_EQ(FormatResult(1, 0), R"({"id":1,"jsonrpc":"2.0","result":0})");
    EXPECT_EQ(json::parse(FormatError(2, -2147352567, "boom"))["error"]["code"], -2147352567);
    EXPECT_EQ(FormatNotification("VolumeStatus", json::array({57})),
              R"({"jsonrpc":"2.0","method":"VolumeStatus","params":[57]})");
    // Bytes that are not UTF-8 never make formatting fail.
    EXPECT_NE(FormatNotification("RecorderStateNotify", json::array({"\xff"})), "");
}

TEST(LineReader, BoundsLineLengthAndKeepsReadingAfterALongLine) {
    std::istringstream in(std::string(100, 'x') + "\nshort\r\nlast");
    std::string line;
    EXPECT_EQ(ReadBoundedLine(in, line, 10), LineStatus::TooLong);
    EXPECT_EQ(ReadBoundedLine(in, line, 10), LineStatus::Line);
    EXPECT_EQ(line, "short");
    EXPECT_EQ(ReadBoundedLine(in, line, 10), LineStatus::Line);
    EXPECT_EQ(line, "last");
    EXPECT_EQ(ReadBoundedLine(in, line, 10), LineStatus::End);

    std::istringstream exact("0123456789\n");
    EXPECT_EQ(ReadBoundedLine(exact, line, 10), LineStatus::Line);
    EXPECT_EQ(line, "0123456789");
}

}  // namespace
