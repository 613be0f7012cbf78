// The browser bridge of `talrec serve`: the loopback server's policy and its clients. Each
// WebSocket connection to /rpc is one control, created by ProgID when the connection opens and
// destroyed when it closes, driven by the same JSON-RPC session as `talrec host`. HTTP serves
// the demo page, the client module, its types, /hello and the data folder's files (with the
// token as a Bearer header, or a ticket from POST /tickets for one file).
//
// Everything runs on the message loop's thread: the server's handlers, the controls, their
// events, Start and Stop.
//
// The platform's debug output, and what a conversion writes to standard output, go to the
// connection whose call, window or device wrote them, as `host.debug` notifications, and to no
// other; every text is also shown on standard error.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/bridge/FileTickets.h"
#include "platform/ext/hosthooks.h"
#include "platform/ext/loopserver.h"

namespace talrec::host {

class BridgePairing;
class DebugRoute;
class PairingStore;
class RpcSession;

// The close code of a connection whose origin's pairing was revoked.
inline constexpr std::uint16_t kCloseRevoked = 4001;

struct BridgeOptions {
    std::uint16_t port = 47615;
    // Listening sockets handed over by a service manager: served instead of opening `port`.
    std::vector<int> sockets;
    // On the loop's thread, after limits.idleTimeout without a connection (when set).
    std::function<void()> onIdle;
    std::vector<std::string> allowedOrigins;  // normalised (NormalizeOrigin)
    std::string token;
    std::string pairingsFolder;  // where pairings.json lies; empty: no pairings
    // How long a ticket of POST /tickets opens its file.
    std::chrono::milliseconds ticketLifetime = std::chrono::seconds(60);
    std::string progId;
    platform::LoopServerLimits limits;
};

class Bridge {
  public:
    explicit Bridge(BridgeOptions options);
    ~Bridge();  // destroys every control still connected, then the server
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // On the thread of a MessageLoop; false with `error` set when the port cannot be had.
    // From here the bridge shows the platform's debug output, until it is destroyed.
    bool Start(std::string& error);
    std::uint16_t Port() const;
    // A one-time code for the run's token, for the address to open (BridgePairing).
    std::string NewCode();
    // Closes every connection (their controls destroyed) and then runs `done`.
    void Stop(std::function<void()> done);

    // Reads the pairings again when they changed and closes the connections whose pairing no
    // longer holds. On the loop's thread; also run by the bridge's own timer.
    void CheckPairings();

  private:
    struct Client;

    // What a request must carry besides an allowed or paired origin.
    enum class Access {
        Open,           // nothing
        Token,          // a token in "Authorization: Bearer"
        TokenOrTicket,  // that, or a ticket for the file asked for in "?ticket="
        SocketToken,    // a token in a subprotocol, or in "?token=" (older clients)
    };

    platform::HttpResponse OnRequest(const platform::HttpRequest& request);
    std::optional<platform::HttpResponse> OnUpgrade(const platform::HttpRequest& request);
    std::optional<platform::HttpResponse> Refusal(const platform::HttpRequest& request,
                                                  Access access,
                                                  const std::optional<std::string>& file);
    // Whether `token` is good for the request's Origin: the run's token for an origin allowed
    // at start (or none), a pairing's token for its own origin only.
    bool TokenHolds(const platform::HttpRequest& request, const std::optional<std::string>& token);
    static bool IsPublicPath(const std::string& path);
    platform::HttpResponse Public(const platform::HttpRequest& request, const std::string& path);
    platform::HttpResponse Hello(const platform::HttpRequest& request);
    platform::HttpResponse Preflight(const platform::HttpRequest& request);
    platform::HttpResponse Guarded(const platform::HttpRequest& request, const std::string& path);
    platform::HttpResponse IssueTicket(const platform::HttpRequest& request);
    // The origin a request's Origin header names when it is paired, normalised.
    std::optional<std::string> PairedOrigin(const platform::HttpRequest& request) const;
    void OnOpen(std::uint64_t id, const platform::HttpRequest& request);
    void OnText(std::uint64_t id, std::string text);
    void OnClose(std::uint64_t id, std::uint16_t code);
    void Reap();
    // A text for the connection `owner` (when it is still open) and for standard error.
    void ShowDebug(const std::string& text, ULONGLONG owner);
    // What the control wrote to standard output since the last look, shown as debug output.
    void ShowWrittenOutput(ULONGLONG owner);
    // Destroys a client's control; what it says meanwhile goes to standard error only.
    static void Destroy(std::unique_ptr<Client> client);

    BridgeOptions options_;
    std::unique_ptr<DebugRoute> debug_;  // ends last, after every control
    std::unique_ptr<platform::LoopServer> server_;
    std::unique_ptr<PairingStore> pairings_;  // once its folder exists
    FileTickets tickets_;
    std::unique_ptr<BridgePairing> pairing_;  // the pairing page, one-time codes
    bool pairingsRefused_ = false;            // the folder is no private folder: said once
    HWND timer_ = nullptr;  // a message-only window whose timer runs CheckPairings
    std::map<std::uint64_t, std::unique_ptr<Client>> clients_;
    // Clients closed while one of their own calls runs; destroyed once it has returned.
    std::vector<std::unique_ptr<Client>> closed_;
    int handling_ = 0;  // depth of calls into a client's session
    bool stopping_ = false;
};

}  // namespace talrec::host
