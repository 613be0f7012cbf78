// The message loop of a thread, and quitting it.
#include <boost/asio/post.hpp>
#include <stdexcept>

#include "platform/ext/messageloop.h"
#include "platform/user/window_internal.h"

namespace {

// The calling thread's loop; set and cleared by MessageLoop on its own thread.
thread_local MessageLoop* currentLoop = nullptr;
thread_local MessageLoopState* currentState = nullptr;

}  // namespace

namespace window_detail {

MessageLoopState* CurrentLoop() {
    return currentState;
}

void PostQuit(MessageLoopState& loop, int exitCode) {
    // Runs on the loop's thread inside Run; the state outlives every handler of its io_context.
    boost::asio::post(loop.io, [state = &loop, exitCode] {
        state->exitCode = exitCode;
        state->io.stop();
    });
}

}  // namespace window_detail

using namespace window_detail;

MessageLoop::MessageLoop() {
    if (currentLoop != nullptr) throw std::logic_error("this thread has a message loop already");
    state_ = std::make_shared<MessageLoopState>();
    currentLoop = this;
    currentState = state_.get();
}

MessageLoop::~MessageLoop() {
    state_->closed.store(true);
    // No messages: the objects behind these windows may be gone by now.
    for (const std::shared_ptr<Window>& window : TakeWindowsOf(state_.get())) {
        window->phase = Phase::Destroying;
        KillAllTimers(*window);
    }
    state_->work.reset();
    if (currentLoop == this) {
        currentLoop = nullptr;
        currentState = nullptr;
    }
}

int MessageLoop::Run() {
    if (std::this_thread::get_id() != state_->owner) {
        throw std::logic_error("a message loop runs on the thread that made it");
    }
    if (state_->running) throw std::logic_error("a message loop does not run inside itself");
    struct Running {
        MessageLoopState& state;
        explicit Running(MessageLoopState& s) : state(s) { state.running = true; }
        ~Running() { state.running = false; }
    } running(*state_);
    state_->io.restart();
    state_->exitCode = 0;
    state_->io.run();
    return state_->exitCode;
}

bool MessageLoop::Post(std::function<void()> fn) {
    return GetPoster().Post(std::move(fn));
}

void MessageLoop::Quit(int exitCode) {
    PostQuit(*state_, exitCode);
}

MessageLoop* MessageLoop::Current() {
    return currentLoop;
}

bool MessageLoop::Poster::Post(std::function<void()> fn) const {
    if (!state_ || state_->closed.load()) return false;
    boost::asio::post(state_->io, std::move(fn));
    return true;
}

bool MessageLoop::Poster::Quit(int exitCode) const {
    if (!state_ || state_->closed.load()) return false;
    PostQuit(*state_, exitCode);
    return true;
}

void PostQuitMessage(int nExitCode) {
    if (MessageLoopState* loop = CurrentLoop()) PostQuit(*loop, nExitCode);
}
