#include "host/bridge/BridgePairing.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "host/bridge/BridgePolicy.h"
#include "host/bridge/WebAssets.h"
#include "host/common/Pairings.h"
#include "host/common/Secrets.h"
#include "host/common/TerminalText.h"

namespace talrec::host {

using platform::HttpRequest;
using platform::HttpResponse;

namespace {

constexpr auto kNonceLife = std::chrono::minutes(10);
constexpr auto kCodeLife = std::chrono::seconds(60);
// Bounds on what waits for its one use: pages any local page may open, codes only local
// programs ask for.
constexpr std::size_t kMaxNonces = 64;
constexpr std::size_t kMaxCodes = 16;

HttpResponse Reply(int status, const nlohmann::json& body) {
    HttpResponse response;
    response.status = status;
    response.headers = {{"Content-Type", "application/json"}};
    response.body = body.dump() + "\n";
    return response;
}

HttpResponse Error(int status, const std::string& text) {
    return Reply(status, {{"error", text}});
}

HttpResponse MethodNotAllowed(const char* allow) {
    HttpResponse response = Error(405, "method not allowed");
    response.headers.emplace_back("Allow", allow);
    return response;
}

// A request sent by a page of the bridge's own origin (the browser names it in Origin).
bool FromOwnPage(const HttpRequest& request, std::uint16_t port) {
    const std::optional<std::string> origin = request.Header("Origin");
    return origin && IsAllowedOrigin(origin, port, {});
}

// The string member `name` of a JSON object body, or nullopt.
std::optional<std::string> BodyMember(const HttpRequest& request, const char* name) {
    const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
    if (!body.is_object() || !body.contains(name) || !body[name].is_string()) return std::nullopt;
    return body[name].get<std::string>();
}

void Replace(std::string& text, std::string_view what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
}

}  // namespace

BridgePairing::BridgePairing(std::string runToken, std::string pairingsFolder, Clock clock)
    : runToken_(std::move(runToken)),
      pairingsFolder_(std::move(pairingsFolder)),
      clock_(std::move(clock)) {}

std::string BridgePairing::NewCode() {
    Prune(codes_, kMaxCodes - 1);
    std::string code = NewToken().substr(0, 32);  // 128 bits
    codes_[code] = {"", clock_() + kCodeLife};
    return code;
}

std::optional<HttpResponse> BridgePairing::Answer(const HttpRequest& request, std::uint16_t port) {
    const std::string_view path = TargetPath(request.target);
    const std::string& method = request.method;
    if (path == "/pair") {
        if (method == "GET" || method == "HEAD") return PairingPage(request);
        if (method != "POST") return MethodNotAllowed("GET, HEAD, POST");
        if (!FromOwnPage(request, port)) return Error(403, "only the pairing page approves");
        return Approve(request);
    }
    if (path == "/session") {
        if (method != "POST") return MethodNotAllowed("POST");
        if (!FromOwnPage(request, port))
            return Error(403, "only the bridge's page exchanges codes");
        return Exchange(request);
    }
    if (path == "/codes") {
        if (method != "POST") return MethodNotAllowed("POST");
        // A local program's request: a page always names its origin.
        if (request.Header("Origin")) return Error(403, "codes are for local programs");
        const std::string authorization = request.Header("Authorization").value_or("");
        const std::string_view scheme = "Bearer ";
        if (authorization.compare(0, scheme.size(), scheme) != 0 ||
            !TokenMatches(std::string_view(authorization).substr(scheme.size()), runToken_)) {
            return Error(401, "the run's token is required");
        }
        return Reply(200, {{"code", NewCode()}});
    }
    return std::nullopt;
}

HttpResponse BridgePairing::PairingPage(const HttpRequest& request) {
    const std::optional<std::string> asked = QueryParam(request.target, "origin");
    const std::optional<std::string> origin = asked ? NormalizeWebOrigin(*asked) : std::nullopt;
    if (!origin) return Error(400, "origin= takes a web origin, scheme://host[:port]");
    const WebAsset* page = FindWebAsset("pair.html");
    if (page == nullptr) return Error(500, "the pairing page is missing");
    Prune(nonces_, kMaxNonces - 1);
    const std::string nonce = NewToken();
    nonces_[nonce] = {*origin, clock_() + kNonceLife};
    // A normalised origin holds only letters, digits and ".-:/[]": nothing HTML would read.
    std::string html(page->bytes);
    Replace(html, "{{ORIGIN}}", *origin);
    Replace(html, "{{NONCE}}", nonce);
    HttpResponse response;
    response.headers = {
        {"Content-Type", std::string(page->contentType)},
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
         "base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"}};
    response.body = std::move(html);
    return response;
}

HttpResponse BridgePairing::Approve(const HttpRequest& request) {
    const std::optional<std::string> asked = BodyMember(request, "origin");
    const std::optional<std::string> nonce = BodyMember(request, "nonce");
    const std::optional<std::string> origin = asked ? NormalizeWebOrigin(*asked) : std::nullopt;
    if (!origin || !nonce) return Error(400, "the body is {\"origin\": ..., \"nonce\": ...}");
    const std::optional<Pending> pending = Take(nonces_, *nonce);
    if (!pending || pending->origin != *origin) {
        return Error(403, "this pairing page is used or out of date: ask again from the app");
    }
    std::string error;
    std::unique_ptr<PairingStore> store = PairingStore::Open(pairingsFolder_, error);
    std::optional<std::string> token = store ? store->Pair(*origin, error) : std::nullopt;
    if (!token) {
        std::fprintf(stderr, "talrec serve: %s\n", TerminalText(error).c_str());
        return Error(500, "the pairing could not be kept");
    }
    std::fprintf(stderr, "talrec serve: paired %s, as the user allowed on the pairing page\n",
                 TerminalText(*origin).c_str());
    std::fflush(stderr);
    return Reply(200, {{"token", *token}});
}

HttpResponse BridgePairing::Exchange(const HttpRequest& request) {
    const std::optional<std::string> code = BodyMember(request, "code");
    if (!code) return Error(400, "the body is {\"code\": ...}");
    if (!Take(codes_, *code)) {
        return Error(403, "this address's code is used or out of date: run talrec open");
    }
    return Reply(200, {{"token", runToken_}});
}

std::optional<BridgePairing::Pending> BridgePairing::Take(std::map<std::string, Pending>& from,
                                                          const std::string& value) {
    auto it = from.find(value);
    if (it == from.end()) return std::nullopt;
    Pending pending = std::move(it->second);
    from.erase(it);
    if (clock_() >= pending.expires) return std::nullopt;
    return pending;
}

void BridgePairing::Prune(std::map<std::string, Pending>& from, std::size_t keep) {
    const auto now = clock_();
    std::erase_if(from, [&](const auto& entry) { return now >= entry.second.expires; });
    while (from.size() > keep) {
        auto oldest = from.begin();
        for (auto it = from.begin(); it != from.end(); ++it) {
            if (it->second.expires < oldest->second.expires) oldest = it;
        }
        from.erase(oldest);
    }
}

}  // namespace talrec::host
