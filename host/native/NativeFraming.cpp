#include "host/native/NativeFraming.h"

#include <cstring>
#include <nlohmann/json.hpp>

#include "host/rpc/RpcProtocol.h"

namespace talrec::host {

const char* FrameFault(FrameStatus status) {
    switch (status) {
        case FrameStatus::TooLong:
            return "a message declared longer than 4 MB";
        case FrameStatus::Truncated:
            return "the input ended inside a message";
        case FrameStatus::BadUtf8:
            return "a message that is not valid UTF-8";
        default:
            return "no fault";
    }
}

FrameStatus ReadNativeMessage(std::FILE* in, std::string& message) {
    message.clear();
    unsigned char header[4];
    const std::size_t got = std::fread(header, 1, sizeof header, in);
    if (got == 0) return FrameStatus::End;
    if (got < sizeof header) return FrameStatus::Truncated;
    std::uint32_t length = 0;
    std::memcpy(&length, header, sizeof length);  // the machine's own byte order
    if (length > kMaxNativeIncoming) return FrameStatus::TooLong;
    message.resize(length);
    if (std::fread(message.data(), 1, length, in) != length) {
        message.clear();
        return FrameStatus::Truncated;
    }
    return IsValidUtf8(message) ? FrameStatus::Message : FrameStatus::BadUtf8;
}

bool IsValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int more = 0;
        std::uint32_t code = 0, least = 0;
        if ((c & 0xE0) == 0xC0) {
            more = 1, code = c & 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2, code = c & 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3, code = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (end - p <= more) return false;
        for (int i = 1; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        p += more + 1;
    }
    return true;
}

std::string FrameNativeMessage(const std::string& json) {
    std::string body = json;
    if (body.size() > kMaxNativeOutgoing) {
        const nlohmann::json message = nlohmann::json::parse(json, nullptr, false);
        if (!message.is_object() || !message.contains("id")) return {};
        body = FormatError(message["id"], kInternalError,
                           "the reply is longer than the 1 MB a browser takes");
    }
    const auto length = static_cast<std::uint32_t>(body.size());
    std::string frame(sizeof length, '\0');
    std::memcpy(frame.data(), &length, sizeof length);
    return frame + body;
}

bool WriteNativeMessage(std::FILE* out, const std::string& json) {
    const std::string frame = FrameNativeMessage(json);
    if (frame.empty()) {
        std::fprintf(stderr, "talrec native-host: a notification over 1 MB was left out\n");
        return true;
    }
    return std::fwrite(frame.data(), 1, frame.size(), out) == frame.size() && std::fflush(out) == 0;
}

}  // namespace talrec::host
