// The message loop on Windows: the system's own (GetMessage, DispatchMessage), as in any
// container. Posted functions wait in a queue of the loop's state and are run by a
// message-only window of the loop's thread, so that they run inside modal loops too (a message
// box shown from a timer), as the control's own window messages do; one at a time, though.
#include "platform/ext/messageloop.h"

#include <deque>
#include <mutex>
#include <stdexcept>

#include "platform/win32/sdk.h"

struct MessageLoopState {
    std::mutex mutex;
    std::deque<std::function<void()>> queue;  // under mutex
    HWND window = nullptr;                    // null once the loop is gone (under mutex)
    bool running = false;                     // the loop's thread only
    bool inside = false;                      // a posted function runs (the loop's thread only)
};

namespace {

constexpr UINT kRunQueued = WM_APP + 1;
constexpr char kWindowClass[] = "talrec.MessageLoop";
thread_local MessageLoop* t_current = nullptr;

// Runs on the loop's thread: the functions queued so far, one at a time.
LRESULT CALLBACK LoopWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kRunQueued) return DefWindowProcA(window, message, wParam, lParam);
    auto* state = reinterpret_cast<MessageLoopState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    // Not inside another posted function (a modal loop it started, such as a message box):
    // that one runs the rest of the queue when it returns, so functions run one at a time and
    // in order, as on Linux.
    if (state->inside) return 0;
    state->inside = true;
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard lock(state->mutex);
            if (state->queue.empty()) break;
            fn = std::move(state->queue.front());
            state->queue.pop_front();
        }
        try {
            fn();
        } catch (...) {
            state->inside = false;
            throw;
        }
    }
    state->inside = false;
    return 0;
}

bool PostTo(MessageLoopState& state, std::function<void()> fn) {
    std::lock_guard lock(state.mutex);
    if (state.window == nullptr) return false;
    const bool wake = state.queue.empty();
    state.queue.push_back(std::move(fn));
    // One wake-up message for a run of posts: the window procedure empties the queue.
    if (wake) PostMessageA(state.window, kRunQueued, 0, 0);
    return true;
}

std::function<void()> QuitWith(int exitCode) {
    return [exitCode] { PostQuitMessage(exitCode); };
}

}  // namespace

MessageLoop::MessageLoop() : state_(std::make_shared<MessageLoopState>()) {
    if (t_current != nullptr) throw std::logic_error("this thread has a message loop already");
    static const ATOM kClass = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = LoopWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kWindowClass;
        return RegisterClassA(&windowClass);
    }();
    if (kClass == 0) throw std::runtime_error("the message loop's window class cannot be made");
    HWND window = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr) throw std::runtime_error("the message loop's window cannot be made");
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state_.get()));
    state_->window = window;
    t_current = this;
}

MessageLoop::~MessageLoop() {
    HWND window = nullptr;
    {
        std::lock_guard lock(state_->mutex);
        window = state_->window;
        state_->window = nullptr;
        state_->queue.clear();
    }
    DestroyWindow(window);
    // A quit still queued for this thread is dropped with the loop.
    MSG message;
    while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    t_current = nullptr;
}

int MessageLoop::Run() {
    if (t_current != this) throw std::logic_error("Run belongs to the loop's own thread");
    if (state_->running) throw std::logic_error("the message loop runs already");
    state_->running = true;
    MSG message;
    int exitCode = 0;
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            exitCode = static_cast<int>(message.wParam);
            break;
        }
        if (got == -1) {
            exitCode = 1;
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    state_->running = false;
    return exitCode;
}

bool MessageLoop::Post(std::function<void()> fn) {
    return PostTo(*state_, std::move(fn));
}

void MessageLoop::Quit(int exitCode) {
    PostTo(*state_, QuitWith(exitCode));
}

bool MessageLoop::Poster::Post(std::function<void()> fn) const {
    return PostTo(*state_, std::move(fn));
}

bool MessageLoop::Poster::Quit(int exitCode) const {
    return PostTo(*state_, QuitWith(exitCode));
}

MessageLoop* MessageLoop::Current() {
    return t_current;
}
