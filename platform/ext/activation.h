// Listening sockets handed over by the service manager that started this process (socket
// activation: LISTEN_PID and LISTEN_FDS, the descriptors from 3 on): a platform extension for
// containers that serve on demand.
//
// Call once, on the main thread, before any other thread starts (it changes the environment).
#pragma once

#ifdef _WIN32
#error "a Linux extension with no counterpart in the Windows SDK"
#else
#include <optional>
#include <string>
#include <vector>

namespace talrec::platform {

// The descriptors handed to this process (closed on exec from here), or an empty list when it
// was not started that way (no variables, or ones meant for another process). nullopt with
// `error` set when the variables are malformed. Either way the variables are removed, so that
// children do not take the sockets for theirs.
std::optional<std::vector<int> > ActivatedSockets(std::string& error);

}  // namespace talrec::platform

#endif  // _WIN32
