// Fuzz target for the native-messaging framing of `talrec native-host`: arbitrary bytes as its
// standard input, read to the end or the first fault. Beyond what the sanitizers catch, it
// checks that a message is at most 4 MB, that the UTF-8 check agrees with the JSON library's,
// and that a message the writer frames reads back the same, alone.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "host/native/NativeFraming.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "native framing broke its promise: %s\n", what);
    std::abort();
}

bool JsonTakes(const std::string& text) {
    try {
        return !nlohmann::json(text).dump().empty();
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace talrec::host;
    if (size == 0) return 0;  // fmemopen takes no empty buffer
    FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    std::string message;
    for (FrameStatus status; in != nullptr;) {
        status = ReadNativeMessage(in, message);
        Require(status == FrameStatus::Message || status == FrameStatus::BadUtf8 || message.empty(),
                "a fault kept its bytes");
        if (status != FrameStatus::Message) {
            Require(status != FrameStatus::BadUtf8 || !JsonTakes(message), "refused good UTF-8");
            break;
        }
        Require(message.size() <= kMaxNativeIncoming && JsonTakes(message), "took bad UTF-8");
        if (message.size() > kMaxNativeOutgoing) continue;
        std::string frame = FrameNativeMessage(message), back;
        FILE* again = fmemopen(frame.data(), frame.size(), "rb");
        Require(ReadNativeMessage(again, back) == FrameStatus::Message && back == message &&
                    ReadNativeMessage(again, back) == FrameStatus::End,
                "a written message does not read back alone");
        std::fclose(again);
    }
    if (in != nullptr) std::fclose(in);
    return 0;
}
