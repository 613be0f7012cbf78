// How a page comes by a token without one ever standing in an address a browser keeps.
//
// Pairing: a page of another origin opens GET /pair?origin=ORIGIN in a popup. The bridge's own
// page there names the origin and what it asks for, and carries a one-time value (random, bound
// to ORIGIN, one use, ten minutes). Only that page, from the bridge's own origin, can send
// POST /pair {"origin","nonce"}, which pairs ORIGIN and answers its token; the page hands it to
// its opener addressed to ORIGIN alone.
//
// One-time codes: the address `talrec serve` prints and `talrec open` opens carries a code
// (60 s, one use) that the demo page exchanges for the run's token with POST /session
// {"code"} from the bridge's own origin. A local program holding the run's token gets a fresh
// code from POST /codes (Bearer, no Origin header).
//
// The requests reach Answer after the bridge's Host check; everything else is checked here. On
// the message loop's thread (as the bridge's handlers), one call at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/ext/loopserver.h"

namespace talrec::host {

class BridgePairing {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `pairingsFolder`: where pairings.json lies (made by the first pairing). `clock` tells the
    // time the one-time values and codes expire by.
    BridgePairing(std::string runToken, std::string pairingsFolder,
                  Clock clock = std::chrono::steady_clock::now);

    // A new one-time code for the run's token.
    std::string NewCode();

    // The answer to GET /pair, POST /pair, POST /session and POST /codes; nullopt for any
    // other path. `port`: the bridge's, which makes its own origin.
    std::optional<platform::HttpResponse> Answer(const platform::HttpRequest& request,
                                                 std::uint16_t port);

  private:
    struct Pending {
        std::string origin;  // for a pairing page's value; empty for a code
        std::chrono::steady_clock::time_point expires;
    };

    platform::HttpResponse PairingPage(const platform::HttpRequest& request);
    platform::HttpResponse Approve(const platform::HttpRequest& request);
    platform::HttpResponse Exchange(const platform::HttpRequest& request);
    // Takes `value` out of `from`: its entry when it was there and has not expired.
    std::optional<Pending> Take(std::map<std::string, Pending>& from, const std::string& value);
    // Drops what expired, then the oldest entries beyond `keep`.
    void Prune(std::map<std::string, Pending>& from, std::size_t keep);

    std::string runToken_;
    std::string pairingsFolder_;
    Clock clock_;
    std::map<std::string, Pending> nonces_;  // one-time values of pairing pages
    std::map<std::string, Pending> codes_;   // one-time codes for the run's token
};

}  // namespace talrec::host
