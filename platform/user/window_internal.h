// Private contract of the window services: the loop state, the window records and the table
// that maps handles to them. Only the window services (platform/user/) and the loopback server
// (platform/http/) include it.
#pragma once

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/winuser.h"

// One thread's loop. Shared by the MessageLoop, its Posters and the windows of the loop, so
// that posting from another thread never reaches a destroyed io_context.
struct MessageLoopState : std::enable_shared_from_this<MessageLoopState> {
    MessageLoopState() : work(boost::asio::make_work_guard(io)) {}

    // Thread-safe in itself: any thread posts into it; only the owner runs it.
    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work;
    const std::thread::id owner = std::this_thread::get_id();
    // Set when the MessageLoop is destroyed; read by any thread before posting.
    std::atomic<bool> closed{false};

    // Owner thread only.
    bool running = false;
    int exitCode = 0;
};

namespace window_detail {

// The calling thread's loop state, or nullptr.
MessageLoopState* CurrentLoop();

// Queues a quit of the loop with this exit code; any thread.
void PostQuit(MessageLoopState& loop, int exitCode);

struct Timer {
    std::unique_ptr<boost::asio::steady_timer> clock;
    std::chrono::milliseconds period{};
    TIMERPROC proc = nullptr;
    // A fresh number for every SetTimer, so that a tick queued for an earlier timer with the
    // same identifier is recognised as stale.
    std::uint64_t serial = 0;
};

enum class Phase { Creating, Alive, Destroying };

// A window. Handle, loop and class are fixed at creation; the procedure and the user data are
// atomic because any thread may read or replace them. The rest belongs to the owner thread.
struct Window {
    HWND handle = nullptr;
    std::shared_ptr<MessageLoopState> loop;
    std::string className;
    std::atomic<WNDPROC> proc{nullptr};
    std::atomic<LONG_PTR> userData{0};

    // Owner thread only.
    Phase phase = Phase::Creating;
    std::map<UINT_PTR, Timer> timers;
    RECT rect{};  // in the parent, as created or moved
    bool visible = false;
};

// The process's window table. Any thread; each call takes the table's lock briefly and never
// calls out while holding it.
std::shared_ptr<Window> FindWindowRecord(HWND hWnd);
// Gives the window its handle and its class's procedure and enters it in the table; nullptr
// when its class (window->className, folded) is not registered.
HWND AddWindowRecord(std::shared_ptr<Window> window);
void RemoveWindowRecord(HWND hWnd);
// Removes every window of a loop from the table and returns them.
std::vector<std::shared_ptr<Window>> TakeWindowsOf(const MessageLoopState* loop);

// Class names are compared folded to lower case.
std::string FoldClassName(LPCSTR name);

// Looks the window up and checks that the calling thread owns it; sets the last error
// (ERROR_INVALID_WINDOW_HANDLE or otherThreadError) and returns nullptr otherwise.
std::shared_ptr<Window> FindOwnWindow(HWND hWnd, DWORD otherThreadError);

// Calls the window's current procedure; owner thread.
LRESULT CallProc(Window& window, UINT msg, WPARAM wParam, LPARAM lParam);

// Stops every timer of a window; owner thread.
void KillAllTimers(Window& window);

}  // namespace window_detail
