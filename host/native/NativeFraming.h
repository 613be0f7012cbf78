// The browsers' native-messaging framing, both directions: each message a 32-bit length in
// the machine's byte order, then that many bytes of UTF-8 JSON. The browser may send up to
// 4 MB; talrec may send at most 1 MB. The reader checks a length before it allocates anything,
// so a hostile length costs nothing. Each function runs on the thread that calls it; one
// thread reads a stream, one writes it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace talrec::host {

inline constexpr std::uint32_t kMaxNativeIncoming = 4 * 1024 * 1024;
inline constexpr std::size_t kMaxNativeOutgoing = 1024 * 1024;

enum class FrameStatus {
    Message,    // `message` holds one whole message of valid UTF-8
    End,        // the stream ended between messages
    TooLong,    // the declared length is over kMaxNativeIncoming (nothing more was read)
    Truncated,  // the stream ended inside a length or a message
    BadUtf8,    // the message is not valid UTF-8
};

// Why a status other than Message or End ends the host, as one line.
const char* FrameFault(FrameStatus status);

// Reads one message from `in`.
FrameStatus ReadNativeMessage(std::FILE* in, std::string& message);

// Whether `text` is valid UTF-8: shortest forms only, no surrogates, nothing past U+10FFFF.
bool IsValidUtf8(std::string_view text);

// The frame (length and bytes) carrying `json`. A message over kMaxNativeOutgoing cannot go:
// a reply is replaced by a JSON-RPC error for its id, a message without an id by nothing (an
// empty string).
std::string FrameNativeMessage(const std::string& json);

// Writes FrameNativeMessage(json) and flushes; false when the stream failed.
bool WriteNativeMessage(std::FILE* out, const std::string& json);

}  // namespace talrec::host
