// Helpers for the window-service tests: a C++ object behind each window (found through the
// user-data slot, as the control finds itself), and a loop run guarded by a watchdog so that a
// lost message fails a test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "platform/ext/messageloop.h"
#include "platform/winuser.h"

namespace window_test {

// The object behind a test window. Its handler, which every test sets, runs on the window's
// thread.
struct Target {
    std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> handler;
    std::vector<UINT> log;  // every message that reached it, in order
};

// WM_CREATE's parameter is the Target, kept in the user-data slot.
inline LRESULT TargetProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* target = reinterpret_cast<Target*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (target == nullptr) return DefWindowProcA(hWnd, msg, wParam, lParam);
    target->log.push_back(msg);
    return target->handler(hWnd, msg, wParam, lParam);
}

// Creates a test window on the calling thread's loop.
inline HWND CreateTarget(Target* target) {
    static const ATOM registered = [] {
        WNDCLASSA cls{};
        cls.lpfnWndProc = TargetProc;
        cls.lpszClassName = "TalrecTestTarget";
        return RegisterClassA(&cls);
    }();
    EXPECT_NE(registered, 0);
    return CreateWindowExA(0, "TalrecTestTarget", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                           target);
}

inline constexpr int kWatchdogExit = -999;

// Runs the loop until something quits it; after `limit` a watchdog quits it with kWatchdogExit.
inline int RunGuarded(MessageLoop& loop,
                      std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::jthread watchdog([&, poster = loop.GetPoster()](std::stop_token stop) {
        std::unique_lock lock(mutex);
        if (!wake.wait_for(lock, stop, limit, [&] { return stop.stop_requested(); })) {
            poster.Quit(kWatchdogExit);
        }
    });
    return loop.Run();  // then the watchdog is stopped and joined
}

}  // namespace window_test
