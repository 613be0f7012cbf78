// Window timers: SetTimer and KillTimer over the loop's steady timers.
#include <algorithm>
#include <chrono>

#include "platform/user/window_internal.h"

namespace window_detail {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<std::uint64_t> nextSerial{1};

DWORD TickCount() {
    auto now =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    return static_cast<DWORD>(now.count());
}

void Arm(HWND hWnd, UINT_PTR id, Timer& timer);

// Runs on the window's loop thread when a wait ends. A tick is delivered only while the timer
// that armed it still runs: a killed timer has left the map and a restarted one has a new
// serial, so a tick already queued when KillTimer or SetTimer ran is dropped here.
void OnTick(HWND hWnd, UINT_PTR id, std::uint64_t serial, const boost::system::error_code& ec) {
    if (ec) return;
    std::shared_ptr<Window> window = FindWindowRecord(hWnd);
    if (!window || window->phase == Phase::Destroying) return;
    auto it = window->timers.find(id);
    if (it == window->timers.end() || it->second.serial != serial) return;
    Timer& timer = it->second;

    // Ticks missed while the loop was busy merge into this one.
    Clock::time_point next = timer.clock->expiry() + timer.period;
    Clock::time_point now = Clock::now();
    if (next <= now) next = now + timer.period;
    timer.clock->expires_at(next);
    Arm(hWnd, id, timer);

    // The handler may kill or restart this timer; nothing of it is used after the call.
    if (TIMERPROC proc = timer.proc) {
        proc(hWnd, WM_TIMER, id, TickCount());
    } else {
        CallProc(*window, WM_TIMER, id, 0);
    }
}

void Arm(HWND hWnd, UINT_PTR id, Timer& timer) {
    timer.clock->async_wait([hWnd, id, serial = timer.serial](const boost::system::error_code& ec) {
        OnTick(hWnd, id, serial, ec);
    });
}

}  // namespace

void KillAllTimers(Window& window) {
    for (auto& [id, timer] : window.timers) timer.clock->cancel();
    window.timers.clear();
}

}  // namespace window_detail

using namespace window_detail;

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    std::shared_ptr<Window> window = FindOwnWindow(hWnd, ERROR_WINDOW_OF_OTHER_THREAD);
    if (!window) return 0;
    uElapse = std::clamp(uElapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);

    Timer& timer = window->timers[nIDEvent];
    if (timer.clock) {
        timer.clock->cancel();
    } else {
        timer.clock = std::make_unique<boost::asio::steady_timer>(window->loop->io);
    }
    timer.period = std::chrono::milliseconds(uElapse);
    timer.proc = lpTimerFunc;
    timer.serial = nextSerial.fetch_add(1);
    timer.clock->expires_after(timer.period);
    Arm(hWnd, nIDEvent, timer);
    return nIDEvent != 0 ? nIDEvent : 1;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    std::shared_ptr<Window> window = FindOwnWindow(hWnd, ERROR_WINDOW_OF_OTHER_THREAD);
    if (!window) return FALSE;
    auto it = window->timers.find(uIDEvent);
    if (it == window->timers.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    it->second.clock->cancel();
    window->timers.erase(it);
    return TRUE;
}
