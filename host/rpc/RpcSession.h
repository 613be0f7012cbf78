// One JSON-RPC 2.0 session with one control: a message in (a line of `talrec host`, a
// WebSocket frame of `talrec serve`), its reply out, and the control's events and message boxes
// as notifications written the moment they happen, so before the reply of the call that raised
// them. Both hosts use this one class; only the transport differs.
//
// Everything here runs on the host's user-interface thread (the message loop's): Handle, the
// writer, the event sink and the observers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <variant>

#include "host/common/ComContainer.h"
#include "host/rpc/RpcProtocol.h"
#include "platform/ext/messageloop.h"

namespace talrec::host {

class RpcSession {
  public:
    using Writer = std::function<void(const std::string& message)>;

    // Takes the control and connects its events; the control's window is the caller's to
    // create (CreateControlWindow). `write` sends one message (a reply or a notification).
    RpcSession(std::unique_ptr<ComContainer> container, LCID lcid, Writer write);
    ~RpcSession();  // destroys the control (its window closed, a recording left for recovery)
    RpcSession(const RpcSession&) = delete;
    RpcSession& operator=(const RpcSession&) = delete;

    ComContainer& Container() { return *container_; }

    // Handles one request (or batch-less notification) and writes its reply.
    void Handle(const std::string& message);

    // Writes a notification.
    void Notify(const std::string& method, const nlohmann::json& params);

    // When set, `host.quit` is answered and then this runs; when not, `host.quit` is an
    // unknown name like any other.
    std::function<void()> onQuit;
    // Methods of the host itself ("host.listFiles"), answered in place of a control member of
    // that name: each takes the request's params and gives the result or an error.
    struct MethodError {
        std::int64_t code;
        std::string message;
    };
    using Method =
        std::function<std::variant<nlohmann::json, MethodError>(const nlohmann::json& params)>;
    std::map<std::string, Method> methods;
    // Observers: each control event after its notification is written, and each control call
    // once it has returned (before its reply is written).
    std::function<void(const std::string& event, const nlohmann::json& args)> onEvent;
    std::function<void(const Request& request, const CallResult& result)> onCall;

    // The request being handled, or null between requests.
    const Request* Current() const { return current_; }

    // Routes the control's message boxes (`host.messageBox`) to the session whose request
    // raised them; a box raised outside any request goes to `fallback`. One route for the
    // process; Remove restores no hook.
    static void InstallMessageBoxRoute(std::function<void(const std::string& text)> fallback);
    static void RemoveMessageBoxRoute();

  private:
    void Dispatch(const Request& request);

    std::unique_ptr<ComContainer> container_;
    LCID lcid_;
    Writer write_;
    const Request* current_ = nullptr;
};

// Serves the one session of a host that reads its messages from a stream. Runs `loop` on this
// thread (its own) until it quits, while a reader thread runs `read`: that hands each message it
// reads to the loop through the poster and returns the status the loop quits with once the
// input ends or fails. Then the message-box route and the session go. The reader may still wait
// for input after host.quit or a fault; the process ends without it, and what it posts from
// then on is dropped with the loop, unrun. Returns the loop's exit status.
int ServeWithReader(MessageLoop& loop, std::unique_ptr<RpcSession>& session,
                    std::function<int(const MessageLoop::Poster& poster)> read);

}  // namespace talrec::host
