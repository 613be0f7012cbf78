// Shows the platform's debug output (OutputDebugStringA: failures a script cannot see, such
// as an input device that does not open) in a container: while a DebugRoute lives, every text
// reaches its function on the thread of the message loop it was made on. A text written on
// that thread (inside a call into the control) is handed over at once, so it comes before the
// call's reply; one written on another thread (a device thread) is posted to the loop. Each
// text comes with its owner (platform/debugapi.h): whose call or device wrote it, 0 for none.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ext/hosthooks.h"
#include "platform/ext/messageloop.h"
#include "platform/winuser.h"

namespace talrec::host {

class DebugRoute {
  public:
    using Show = std::function<void(const std::string& text, ULONGLONG owner)>;

    // On the loop's thread; replaces any hook set before and restores standard error at the end.
    DebugRoute(MessageLoop& loop, Show show);
    ~DebugRoute();
    DebugRoute(const DebugRoute&) = delete;
    DebugRoute& operator=(const DebugRoute&) = delete;

    // How many texts have been shown; on the loop's thread.
    int Count() const;

  private:
    struct State;
    static void Hook(const char* text, void* context);

    std::shared_ptr<State> state_;
};

// While one lives, what this thread writes on the debug output, and what the windows, devices
// and players it makes meanwhile write later, is `owner`'s.
class DebugOwner {
  public:
    explicit DebugOwner(ULONGLONG owner) : previous_(SetThreadDebugOwner(owner)) {}
    ~DebugOwner() { SetThreadDebugOwner(previous_); }
    DebugOwner(const DebugOwner&) = delete;
    DebugOwner& operator=(const DebugOwner&) = delete;

  private:
    ULONGLONG previous_;
};

}  // namespace talrec::host
