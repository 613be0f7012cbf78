// A request to a loopback HTTP server, as a local program asks a service of the user's own (the
// bridge): a platform extension, like the loopback server whose request and response records it
// uses. Windows has WinHTTP for it.
//
// Any thread; blocks the calling thread until the answer is read, or up to `timeout`.
#pragma once

#ifdef _WIN32
#error "a Linux extension with no counterpart in the Windows SDK"
#else
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/ext/loopserver.h"

namespace talrec::platform {

// Sends `request` to 127.0.0.1:`port` on a connection of its own (its Host header set to that
// address, Content-Length from the body) and reads the answer. nullopt, with `error` set to one
// line, when nothing listens, or no whole answer came within `timeout`.
std::optional<HttpResponse> LoopbackRequest(std::uint16_t port, const HttpRequest& request,
                                            std::chrono::milliseconds timeout, std::string& error);

}  // namespace talrec::platform

#endif  // _WIN32
