#include "host/rpc/RpcProtocol.h"

namespace talrec::host {
namespace {

// Output never fails on strings that came from the control: bytes that are not UTF-8 are
// replaced rather than thrown on.
std::string Dump(const nlohmann::json& message) {
    return message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::variant<Request, ErrorReply> ParseRequestLine(const std::string& line) {
    if (line.size() > kMaxLineBytes) {
        return ErrorReply{nullptr, kInvalidRequest, "request line too long"};
    }
    nlohmann::json message = nlohmann::json::parse(line, nullptr, false);
    if (message.is_discarded()) return ErrorReply{nullptr, kParseError, "parse error"};

    if (!message.is_object()) return ErrorReply{nullptr, kInvalidRequest, "not a request object"};
    nlohmann::json id = nullptr;
    bool hasId = message.contains("id");
    if (hasId) {
        id = message["id"];
        if (!id.is_null() && !id.is_string() && !id.is_number()) {
            return ErrorReply{nullptr, kInvalidRequest, "id must be a string, number or null"};
        }
    }
    auto version = message.find("jsonrpc");
    if (version == message.end() || *version != "2.0") {
        return ErrorReply{id, kInvalidRequest, "jsonrpc must be \"2.0\""};
    }
    auto method = message.find("method");
    if (method == message.end() || !method->is_string()) {
        return ErrorReply{id, kInvalidRequest, "method must be a string"};
    }
    Request request;
    request.id = id;
    request.isNotification = !hasId;
    request.method = method->get<std::string>();
    auto params = message.find("params");
    if (params == message.end() || params->is_null()) {
        request.params = nlohmann::json::array();
    } else if (params->is_array()) {
        request.params = *params;
    } else {
        return ErrorReply{id, kInvalidParams, "params must be an array"};
    }
    return request;
}

std::string FormatResult(const nlohmann::json& id, const nlohmann::json& result) {
    return Dump({{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
}

std::string FormatError(const nlohmann::json& id, std::int64_t code, const std::string& message) {
    return Dump(
        {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

std::string FormatError(const ErrorReply& error) {
    return FormatError(error.id, error.code, error.message);
}

std::string FormatNotification(const std::string& method, const nlohmann::json& params) {
    return Dump({{"jsonrpc", "2.0"}, {"method", method}, {"params", params}});
}

}  // namespace talrec::host
