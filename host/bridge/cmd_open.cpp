// talrec open: the running bridge's demo page in the user's browser. Asks the bridge named in
// serve.json for a one-time code with the run's token, so that the address handed to the
// browser (which lands on its command line and in its history) holds no secret that works
// twice. A bridge the service manager starts on demand is started by a first request.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "host/Commands.h"
#include "host/bridge/Bridge.h"
#include "host/common/TerminalText.h"
#include "platform/ext/loopclient.h"
#include "platform/ext/privatefolder.h"
#include "platform/shellapi.h"

namespace talrec::host {
namespace {

using namespace std::chrono_literals;

struct ServeState {
    std::uint16_t port = 0;
    std::string token;
};

std::optional<ServeState> ReadState(const platform::PrivateFolder& folder) {
    const nlohmann::json state =
        nlohmann::json::parse(folder.Read("serve.json").value_or(""), nullptr, false);
    if (!state.is_object() || !state.contains("port") || !state["port"].is_number_unsigned() ||
        !state.contains("token") || !state["token"].is_string()) {
        return std::nullopt;
    }
    return ServeState{state["port"].get<std::uint16_t>(), state["token"].get<std::string>()};
}

int RunOpen(const Arguments&) {
    std::string error;
    std::unique_ptr<platform::PrivateFolder> folder =
        platform::PrivateFolder::Open(ServeStateFolder(), error);
    if (!folder) {
        std::fprintf(stderr, "talrec open: %s\n", TerminalText(error).c_str());
        return 1;
    }
    std::optional<ServeState> state = ReadState(*folder);
    if (!state) {
        // A socket the service manager holds starts the bridge at the first request, and the
        // bridge writes serve.json before it answers one.
        const platform::HttpRequest first{"GET", "/", {}, ""};
        if (platform::LoopbackRequest(BridgeOptions{}.port, first, 30s, error)) {
            state = ReadState(*folder);
        }
    }
    if (!state) {
        std::fprintf(stderr,
                     "talrec open: no talrec bridge runs; start one with 'talrec serve', or once "
                     "for every login with 'systemctl --user enable --now talrec.socket'\n");
        return 1;
    }
    const platform::HttpRequest ask{
        "POST", "/codes", {{"Authorization", "Bearer " + state->token}}, ""};
    std::optional<platform::HttpResponse> answer =
        platform::LoopbackRequest(state->port, ask, 30s, error);
    const nlohmann::json body = nlohmann::json::parse(answer ? answer->body : "", nullptr, false);
    if (!answer || answer->status != 200 || !body.is_object() || !body.contains("code") ||
        !body["code"].is_string()) {
        std::fprintf(
            stderr, "talrec open: the bridge on port %u gave no code: %s\n",
            static_cast<unsigned>(state->port),
            TerminalText(answer ? std::to_string(answer->status) + " " + answer->body : error)
                .c_str());
        return 1;
    }
    const std::string page = "http://127.0.0.1:" + std::to_string(state->port) + "/";
    const std::string address = page + "#code=" + body["code"].get<std::string>();
    const auto opened = reinterpret_cast<std::intptr_t>(
        ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (opened <= 32) {
        std::fprintf(stderr,
                     "talrec open: no browser could be started (xdg-open); open this address "
                     "within 60 s:\n%s\n",
                     address.c_str());
        return 1;
    }
    std::printf("opened %s in your browser\n", page.c_str());
    return 0;
}

}  // namespace

const Command kOpenCommand = {
    "open",
    "",
    "opens the running bridge's demo page in your browser",
    "  Opens the demo page of the running 'talrec serve' in your browser (xdg-open),\n"
    "  with a one-time code (one use, within 60 s) that the page exchanges for the\n"
    "  run's token; the address holds no token. The bridge is the one serve.json\n"
    "  names; when none runs, a first request to port 47615 starts the one the user\n"
    "  units hold (talrec.socket). Exit 1 when no bridge answers or no browser starts.\n",
    {},
    0,
    0,
    RunOpen};

}  // namespace talrec::host
