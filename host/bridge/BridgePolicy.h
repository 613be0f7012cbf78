// Who may use the browser bridge. Every page the user visits can reach a loopback port, so each
// request must pass three checks: its Host header names the loopback address with the bridge's
// port (a page on a rebound DNS name sends its own name), its Origin, when present, is the
// bridge's own or one allowed at start, and it carries the run's token. Pure functions, any
// thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/common/Secrets.h"

namespace talrec::host {

// "127.0.0.1:PORT", "localhost:PORT" or "[::1]:PORT" (the name without regard to case).
bool IsLoopbackHost(const std::optional<std::string>& host, std::uint16_t port);

// No Origin header (not a page's request), the bridge's own origin in any of the three
// loopback spellings, or one of `allowed` exactly (a trailing "/" aside; scheme and name
// without regard to case).
bool IsAllowedOrigin(const std::optional<std::string>& origin, std::uint16_t port,
                     const std::vector<std::string>& allowed);

// The origin as `--allow-origin` takes it: "scheme://host[:port]", lower-cased, without a
// trailing "/"; nullopt when it is not of that form.
std::optional<std::string> NormalizeOrigin(std::string_view origin);

// The path of a request target (before "?"), not decoded.
std::string_view TargetPath(std::string_view target);

// The value of a query parameter, percent-decoded; nullopt when absent or badly encoded.
std::optional<std::string> QueryParam(std::string_view target, std::string_view name);

// Decodes %XX escapes (and nothing else); nullopt for a bad escape or an encoded NUL.
std::optional<std::string> PercentDecode(std::string_view text);

}  // namespace talrec::host
