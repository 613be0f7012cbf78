// Listening sockets handed over by the service manager that started this process (socket
// activation: LISTEN_PID and LISTEN_FDS, the descriptors from 3 on): a platform extension for
// containers that serve on demand.
//
// Call once, on the main thread, before any other thread starts (it changes the environment).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace talrec::platform {

#ifdef _WIN32
// Windows has no such hand-over: never started that way.
inline std::optional<std::vector<int> > ActivatedSockets(std::string&) {
    return std::vector<int>();
}
#else

// The descriptors handed to this process (closed on exec from here), or an empty list when it
// was not started that way (no variables, or ones meant for another process). nullopt with
// `error` set when the variables are malformed. Either way the variables are removed, so that
// children do not take the sockets for theirs.
std::optional<std::vector<int> > ActivatedSockets(std::string& error);

#endif  // _WIN32

}  // namespace talrec::platform
