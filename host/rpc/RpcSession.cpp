#include "host/rpc/RpcSession.h"

#include <thread>

#include "platform/ext/hosthooks.h"
#include "platform/winuser.h"

namespace talrec::host {
namespace {

// The session whose request is being handled. Loop thread only: requests are handled there one
// at a time, and the control shows its boxes from inside them.
RpcSession* g_active = nullptr;

}  // namespace

RpcSession::RpcSession(std::unique_ptr<ComContainer> container, LCID lcid, Writer write)
    : container_(std::move(container)), lcid_(lcid), write_(std::move(write)) {
    // The control fires its events on the loop thread, inside a call or from a timer or a
    // level message.
    container_->Connect([this](const std::string& name, const nlohmann::json& args) {
        Notify(name, args);
        if (onEvent) onEvent(name, args);
    });
}

RpcSession::~RpcSession() {
    if (g_active == this) g_active = nullptr;
    container_.reset();
}

void RpcSession::Notify(const std::string& method, const nlohmann::json& params) {
    write_(FormatNotification(method, params));
}

void RpcSession::Handle(const std::string& message) {
    auto parsed = ParseRequestLine(message);
    if (auto* error = std::get_if<ErrorReply>(&parsed)) {
        write_(FormatError(*error));
        return;
    }
    const Request& request = std::get<Request>(parsed);
    RpcSession* outer = g_active;
    g_active = this;
    current_ = &request;
    Dispatch(request);
    current_ = nullptr;
    g_active = outer;
}

void RpcSession::Dispatch(const Request& request) {
    auto reply = [&](const std::string& text) {
        if (!request.isNotification) write_(text);
    };
    if (request.method == "host.quit" && onQuit) {
        reply(FormatResult(request.id, 0));
        onQuit();
        return;
    }
    if (auto method = methods.find(request.method); method != methods.end()) {
        auto answer = method->second(request.params);
        if (auto* error = std::get_if<MethodError>(&answer)) {
            reply(FormatError(request.id, error->code, error->message));
        } else {
            reply(FormatResult(request.id, std::get<nlohmann::json>(answer)));
        }
        return;
    }
    if (request.method == "host.createWindow" || request.method == "host.destroyWindow") {
        HRESULT hr = request.method == "host.createWindow" ? container_->CreateControlWindow()
                                                           : container_->DestroyControlWindow();
        reply(SUCCEEDED(hr) ? FormatResult(request.id, 0)
                            : FormatError(request.id, hr, "the window could not be changed"));
        return;
    }
    CallResult result = container_->Call(request.method, request.params, lcid_);
    if (onCall) onCall(request, result);
    if (result.badParams) {
        reply(FormatError(request.id, kInvalidParams, result.message));
    } else if (FAILED(result.hr)) {
        reply(FormatError(request.id, result.hr, result.message));
    } else {
        reply(FormatResult(request.id, result.result));
    }
}

void RpcSession::InstallMessageBoxRoute(std::function<void(const std::string& text)> fallback) {
    // On the thread that shows the box: the loop thread.
    SetMessageBoxHook([fallback = std::move(fallback)](HWND, const char* text, const char*, UINT) {
        std::string box = text != nullptr ? text : "";
        if (g_active != nullptr) {
            g_active->Notify("host.messageBox", nlohmann::json::array({box}));
        } else if (fallback) {
            fallback(box);
        }
        return IDOK;
    });
}

void RpcSession::RemoveMessageBoxRoute() {
    SetMessageBoxHook({});
}

int ServeWithReader(MessageLoop& loop, std::unique_ptr<RpcSession>& session,
                    std::function<int(const MessageLoop::Poster& poster)> read) {
    std::thread reader(
        [poster = loop.GetPoster(), read = std::move(read)] { poster.Quit(read(poster)); });
    const int status = loop.Run();
    RpcSession::RemoveMessageBoxRoute();
    session.reset();
    reader.detach();
    return status;
}

}  // namespace talrec::host
