// The message loop of a user-interface thread (platform/winuser.h's windows, timers and posted
// messages run in it), over an event loop. Both targets have it: on Linux over Boost.Asio
// (platform/user/), on Windows it is the system's own loop (GetMessage and DispatchMessage),
// with posted functions carried to it by a message-only window (platform/win32/messageloop.cpp),
// so that they run inside modal loops (a message box) as window messages do.
#pragma once

#include <functional>
#include <memory>
#include <utility>

struct MessageLoopState;

// The message loop of one thread, over an event loop. Constructing it makes it the calling
// thread's loop (one at a time per thread; a second throws std::logic_error); windows that
// thread creates belong to it. Posted messages, timer ticks and posted functions all run on
// this thread, inside Run, one at a time, in the order they were queued (a tick when it falls
// due).
class MessageLoop {
  public:
    MessageLoop();
    // On the loop's own thread. Windows of this loop still open are removed without further
    // messages (their procedures are not called: their objects may be gone already), their
    // timers are killed, and work still queued is dropped unrun.
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    // Runs queued work until a quit (Quit, PostQuitMessage or a posted WM_QUIT) and returns its
    // exit code. On the loop's own thread only, not from inside itself (std::logic_error).
    // Work queued after the quit stays queued for the next Run. An exception thrown by a
    // window procedure or posted function leaves Run; the loop can be run again.
    int Run();

    // Queues fn to run on the loop's thread; any thread. Returns false once the loop is gone
    // (only through a Poster, which can outlive it).
    bool Post(std::function<void()> fn);

    // Queues a quit with this exit code after the work queued before it; any thread.
    void Quit(int exitCode = 0);

    // A copyable way to reach this loop from other threads that may outlive it: after the loop
    // is destroyed its Post and Quit do nothing and return false.
    class Poster {
      public:
        bool Post(std::function<void()> fn) const;
        bool Quit(int exitCode = 0) const;

      private:
        friend class MessageLoop;
        explicit Poster(std::shared_ptr<MessageLoopState> state) : state_(std::move(state)) {}
        std::shared_ptr<MessageLoopState> state_;
    };
    Poster GetPoster() const { return Poster(state_); }

    // The calling thread's loop, or nullptr.
    static MessageLoop* Current();

  private:
    std::shared_ptr<MessageLoopState> state_;
};
