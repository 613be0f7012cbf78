// talrec native-host: the host a browser starts for the talrec extension, one process per
// port the extension opens, speaking the browsers' native-messaging framing on standard input
// and output (host/native/NativeFraming.h). The browser names the calling extension on the
// command line; the extension names the page's origin in its first message:
//   {"talrec": "open", "origin": O}   answered {"talrec": "ready"} once the control is made,
//                                      then JSON-RPC 2.0 as `talrec host` speaks it, plus
//                                      host.listFiles and host.readFile;
//   {"talrec": "allow", "origin": O}  the user allowed O on the extension's consent page: O is
//                                      recorded in the pairings, answered {"talrec": "allowed"}.
// Anything else is answered {"talrec": "refused", "reason": R, "message": M} and ends the
// host. A fault of the framing (a length over 4 MB, a cut message, invalid UTF-8 or JSON) ends
// it at once with status 1 and a line on standard error. As in `talrec host`, the message loop
// runs on the main thread and a reader thread hands it each message.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "host/Commands.h"
#include "host/common/ComContainer.h"
#include "host/common/ControlClass.h"
#include "host/common/DataFiles.h"
#include "host/common/DebugRoute.h"
#include "host/common/Pairings.h"
#include "host/common/TerminalText.h"
#include "host/native/NativeFraming.h"
#include "host/native/NativeNames.h"
#include "host/rpc/RpcProtocol.h"
#include "host/rpc/RpcSession.h"
#include "platform/ext/console.h"
#include "platform/ext/messageloop.h"
#include "platform/objbase.h"
#include "storage/DataFolder.h"

namespace talrec::host {
namespace {

using nlohmann::json;

constexpr Option kOptions[] = {{"--parent-window", "N"}};

// The most host.readFile gives at once: its base64 stays well under the 1 MB a message takes.
constexpr std::uint64_t kReadChunk = 512 * 1024;

int Fault(const std::string& why) {
    std::fprintf(stderr, "talrec native-host: %s\n", TerminalText(why).c_str());
    return 1;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether the browser started this host for talrec's own extension: Chromium names it by its
// origin, Firefox by the host manifest's path and the extension's id.
bool CallerAllowed(const std::vector<std::string>& args) {
    if (args.size() == 1) return args[0] == kExtensionOrigin;
    return args.size() == 2 && EndsWith(args[0], ".json") && args[1] == kFirefoxExtensionId;
}

std::string Base64(const std::string& bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[(group >> 18) & 63];
        out += kDigits[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
    }
    return out;
}

// host.listFiles []: the data folder's listing, as the bridge's /files gives it.
std::variant<json, RpcSession::MethodError> ListFiles(const json& params) {
    if (!params.empty()) return RpcSession::MethodError{kInvalidParams, "host.listFiles takes []"};
    return ListDataFolder(ComputeDataFolder());
}

// host.readFile [name, offset, length]: up to kReadChunk bytes of a plain file directly in the
// data folder, from `offset`, in base64; with the file's whole size, so a page reads it in turns.
std::variant<json, RpcSession::MethodError> ReadFile(const json& params) {
    if (params.size() != 3 || !params[0].is_string() || !params[1].is_number_unsigned() ||
        !params[2].is_number_unsigned()) {
        return RpcSession::MethodError{kInvalidParams,
                                       "host.readFile takes [name, offset, length]"};
    }
    const std::string folder = ComputeDataFolder(), name = params[0].get<std::string>();
    const std::optional<std::uintmax_t> size = PlainFileSize(folder, name);
    if (!size) return RpcSession::MethodError{kInvalidParams, "no such file in the data folder"};
    const auto offset = params[1].get<std::uint64_t>();
    std::string data;
    if (offset < *size) {
        data.resize(std::min({params[2].get<std::uint64_t>(), kReadChunk, *size - offset}));
        std::ifstream file(folder + "/" + name, std::ios::binary);
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(data.data(), static_cast<std::streamsize>(data.size()));
        data.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    }
    return json{{"data", Base64(data)}, {"offset", offset}, {"size", *size}};
}

// Serves `origin`'s page with one control until the input ends, host.quit or a framing fault.
int Serve(std::FILE* protocol, const std::string& origin) {
    auto send = [protocol](const std::string& message) { WriteNativeMessage(protocol, message); };
    CoInitialize(nullptr);
    int status = 0;
    {
        MessageLoop loop;
        // The platform's debug output: a host.debug notification once the page was told the
        // host is ready (kept until then), and a line on stderr; set before the control is
        // made, so that a failure while making it is shown too. On the loop's thread.
        bool ready = false;
        std::vector<std::string> early;
        DebugRoute debug(loop, [&](const std::string& text, ULONGLONG) {
            std::fprintf(stderr, "%s\n", TerminalText(text).c_str());
            std::string note = FormatNotification("host.debug", json::array({text}));
            ready ? send(note) : early.push_back(std::move(note));
        });
        std::string error;
        std::unique_ptr<ComContainer> container = ComContainer::Create(kControlProgId, error);
        if (!container) {
            send(json{{"talrec", "refused"}, {"reason", "unavailable"}, {"message", error}}.dump());
            std::fprintf(stderr, "talrec native-host: %s\n", TerminalText(error).c_str());
            CoUninitialize();
            return 3;  // the control is not registered or cannot be created
        }
        send(json{{"talrec", "ready"}}.dump());
        ready = true;
        for (const std::string& note : early) send(note);
        std::fprintf(stderr, "talrec native-host: serving %s\n", TerminalText(origin).c_str());

        auto session = std::make_unique<RpcSession>(std::move(container), 0x0409, send);
        session->onQuit = [&loop] { loop.Quit(0); };
        session->methods["host.listFiles"] = ListFiles;
        session->methods["host.readFile"] = ReadFile;
        RpcSession* only = session.get();
        RpcSession::InstallMessageBoxRoute([only](const std::string& text) {
            only->Notify("host.messageBox", json::array({text}));
        });
        session->Container().CreateControlWindow();

        // The reader thread reads messages and hands them to the loop until the input ends
        // (status 0) or a fault of the framing (status 1).
        status = ServeWithReader(loop, session, [only](const MessageLoop::Poster& poster) {
            std::string message;
            for (;;) {
                const FrameStatus frame = ReadNativeMessage(stdin, message);
                if (frame == FrameStatus::End) return 0;
                if (frame != FrameStatus::Message || !json::accept(message)) {
                    Fault(frame != FrameStatus::Message ? FrameFault(frame)
                                                        : "a message that is not JSON");
                    return 1;
                }
                poster.Post([only, message] { only->Handle(message); });
            }
        });
    }
    CoUninitialize();
    std::fflush(protocol);
    return status;
}

int RunNativeHost(const Arguments& arguments) {
    std::setlocale(LC_ALL, "");
    // Standard output carries only the framing; what else writes to it goes to stderr.
    std::FILE* protocol = talrec::platform::TakeStandardOutput();
    if (protocol == nullptr) return Fault("cannot set up standard output");
    auto refuse = [protocol](const char* reason, const std::string& text) {
        WriteNativeMessage(
            protocol, json{{"talrec", "refused"}, {"reason", reason}, {"message", text}}.dump());
        return Fault("refused: " + text);
    };

    std::string first;
    const FrameStatus frame = ReadNativeMessage(stdin, first);
    if (frame == FrameStatus::End) return 0;  // the browser closed the port unasked
    if (frame != FrameStatus::Message) return Fault(FrameFault(frame));
    const json request = json::parse(first, nullptr, false);
    if (request.is_discarded()) return Fault("a message that is not JSON");

    const std::vector<std::string>& caller = arguments.Positional();
    if (!CallerAllowed(caller)) {
        return refuse("extension-not-allowed",
                      "the extension " + caller.back() + " is not the one talrec serves");
    }
    std::optional<std::string> origin;
    std::string kind;
    if (request.is_object() && request.size() == 2 && request.contains("talrec") &&
        request["talrec"].is_string() && request.contains("origin") &&
        request["origin"].is_string()) {
        kind = request["talrec"].get<std::string>();
        origin = NormalizeWebOrigin(request["origin"].get<std::string>());
    }
    if (!origin || (kind != "open" && kind != "allow")) {
        return refuse("bad-request",
                      "the first message is {\"talrec\": \"open\" or \"allow\", \"origin\": "
                      "scheme://host[:port]}");
    }

    std::string error;
    std::unique_ptr<PairingStore> pairings =
        PairingStore::Open(PairingStore::DefaultFolder(), error);
    if (!pairings) return refuse("unavailable", error);
    if (kind == "allow") {
        if (!pairings->Allow(*origin, error)) return refuse("unavailable", error);
        WriteNativeMessage(protocol, json{{"talrec", "allowed"}, {"origin", *origin}}.dump());
        std::fprintf(stderr, "talrec native-host: allowed %s\n", TerminalText(*origin).c_str());
        return 0;
    }
    if (!pairings->Find(*origin)) {
        return refuse("not-paired", *origin + " is not allowed to use talrec");
    }
    pairings.reset();
    NoteWaitingRecordings("native-host");
    return Serve(protocol, *origin);
}

}  // namespace

const Command kNativeHostCommand = {
    "native-host",
    "EXTENSION [ID] [--parent-window N]",
    "the browser extension's host, native messaging on stdin and stdout",
    "  The host a browser starts for the talrec extension (the browser runs 'talrec\n"
    "  chrome-extension://ID/' or, Firefox, 'talrec MANIFEST.json ID', which is this\n"
    "  command). Serves only talrec's own extension, and only pages of origins the\n"
    "  user allowed ('talrec pair --list' shows them): each message a 32-bit length\n"
    "  and UTF-8 JSON, the same JSON-RPC as 'talrec host' once the extension has\n"
    "  named the page's origin. Scripts reach the data folder only. A malformed\n"
    "  message ends it with status 1.\n",
    kOptions,
    1,
    2,
    RunNativeHost};

}  // namespace talrec::host
