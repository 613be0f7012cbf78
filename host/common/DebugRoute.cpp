#include "host/common/DebugRoute.h"

#include <cstdio>

#include "host/common/TerminalText.h"
#include "platform/debugapi.h"
#include "platform/ext/hosthooks.h"
#include "platform/ext/messageloop.h"

namespace talrec::host {

struct DebugRoute::State : std::enable_shared_from_this<State> {
    State(MessageLoop& l, Show s) : loop(&l), poster(l.GetPoster()), show(std::move(s)) {}

    MessageLoop* loop;
    MessageLoop::Poster poster;
    Show show;
    bool active = true;  // loop thread only; cleared when the route ends
    int count = 0;       // loop thread only

    // On the loop's thread.
    void ShowNow(const std::string& text, ULONGLONG owner) {
        if (!active) return;
        ++count;
        show(text, owner);
    }
};

DebugRoute::DebugRoute(MessageLoop& loop, Show show)
    : state_(std::make_shared<State>(loop, std::move(show))) {
    SetDebugOutputHook(&DebugRoute::Hook, state_.get());
}

DebugRoute::~DebugRoute() {
    // Waits for hook calls in progress; texts still queued on the loop are not shown.
    SetDebugOutputHook(nullptr, nullptr);
    state_->active = false;
}

int DebugRoute::Count() const {
    return state_->count;
}

// On the thread that called OutputDebugStringA; the route outlives every call (its end waits
// for them), and posted work keeps the state alive until the loop has run it.
void DebugRoute::Hook(const char* text, void* context) {
    auto* state = static_cast<State*>(context);
    const ULONGLONG owner = GetThreadDebugOwner();
    if (MessageLoop::Current() == state->loop) {
        state->ShowNow(text, owner);
        return;
    }
    std::string copy = text;
    if (!state->poster.Post(
            [keep = state->shared_from_this(), copy, owner] { keep->ShowNow(copy, owner); })) {
        std::fprintf(stderr, "%s\n", TerminalText(copy).c_str());  // the loop is gone
    }
}

}  // namespace talrec::host
