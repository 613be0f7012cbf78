// JSON-RPC 2.0 framing of `talrec host`: one JSON object per line on standard input and
// output. This part only parses request lines and formats replies and notifications; what a
// request does is the host's.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>

namespace talrec::host {

inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;

// Longest request line taken; a longer one is answered with kInvalidRequest and skipped.
inline constexpr std::size_t kMaxLineBytes = 256 * 1024;

struct Request {
    nlohmann::json id;  // null for a notification (no reply is written)
    bool isNotification = false;
    std::string method;
    nlohmann::json params;  // an array (possibly empty)
};

struct ErrorReply {
    nlohmann::json id;
    int code;
    std::string message;
};

// Parses one line. Invalid JSON (including invalid UTF-8 and lone surrogates) gives
// kParseError; valid JSON that is not a request gives kInvalidRequest.
std::variant<Request, ErrorReply> ParseRequestLine(const std::string& line);

std::string FormatResult(const nlohmann::json& id, const nlohmann::json& result);
std::string FormatError(const nlohmann::json& id, std::int64_t code, const std::string& message);
std::string FormatError(const ErrorReply& error);
std::string FormatNotification(const std::string& method, const nlohmann::json& params);

}  // namespace talrec::host
