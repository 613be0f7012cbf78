// Helpers for the window-service tests: a C++ object behind each window (found through the
// user-data slot, as the control finds itself), and a loop run guarded by a watchdog so that a
// lost message fails a test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/winuser.h"

namespace window_test {

// The object behind a test window. Its handler runs on the window's thread.
struct Target {
    std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> handler;
    std::vector<UINT> log;  // every message that reached it, in order (window's thread)
};

// The procedure of the test class: runs on the window's thread. WM_CREATE's parameter is the
// Target, stored in the user-data slot; messages without a Target go to DefWindowProcA.
inline LRESULT TargetProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* target = reinterpret_cast<Target*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (target == nullptr) return DefWindowProcA(hWnd, msg, wParam, lParam);
    target->log.push_back(msg);
    if (target->handler) return target->handler(hWnd, msg, wParam, lParam);
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

inline const char* TargetClass() {
    static const char* name = [] {
        WNDCLASSA cls{};
        cls.lpfnWndProc = TargetProc;
        cls.lpszClassName = "TalrecTestTarget";
        RegisterClassA(&cls);
        return cls.lpszClassName;
    }();
    return name;
}

// Creates a test window on the calling thread's loop.
inline HWND CreateTarget(Target* target) {
    return CreateWindowExA(0, TargetClass(), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                           target);
}

inline constexpr int kWatchdogExit = -999;

// Runs the loop until something quits it; after `limit` a watchdog quits it with
// kWatchdogExit, which the test then reports as a failure.
inline int RunGuarded(MessageLoop& loop,
                      std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    MessageLoop::Poster poster = loop.GetPoster();
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!done.wait_for(lock, limit, [&] { return finished; })) poster.Quit(kWatchdogExit);
    });
    int code = loop.Run();
    {
        std::lock_guard lock(mutex);
        finished = true;
    }
    done.notify_one();
    watchdog.join();
    return code;
}

// Runs the loop for a while (a quiet period in which nothing more may arrive).
inline void RunFor(MessageLoop& loop, std::chrono::milliseconds period) {
    EXPECT_EQ(RunGuarded(loop, period), kWatchdogExit);
}

// Quits a loop a while after Start, from another thread: the quiet period after the event a
// test waited for, in which nothing more may arrive. So that a slow machine cannot fail a
// test, what must happen is counted by the handlers, and only the quiet period is timed.
class QuietPeriod {
  public:
    ~QuietPeriod() {
        if (thread_.joinable()) thread_.join();
    }
    void Start(MessageLoop& loop, std::chrono::milliseconds period, int exitCode = 0) {
        if (thread_.joinable()) return;
        thread_ = std::thread([poster = loop.GetPoster(), period, exitCode] {
            std::this_thread::sleep_for(period);
            poster.Quit(exitCode);
        });
    }

  private:
    std::thread thread_;
};

}  // namespace window_test
