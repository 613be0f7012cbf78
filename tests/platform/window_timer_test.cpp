// Window timers: ticks until killed and never after, restarts, and timers of destroyed windows.
#include <algorithm>

#include "platform/window_support.h"
#include "platform/winuser.h"

using namespace window_test;
using std::chrono::milliseconds;

namespace {

int CountOf(const std::vector<UINT>& log, UINT msg) {
    return static_cast<int>(std::count(log.begin(), log.end(), msg));
}

TEST(WindowTimer, TicksUntilKilledAndNeverAfter) {
    MessageLoop loop;
    QuietPeriod quiet;
    Target target;
    int ticks = 0;
    std::vector<WPARAM> ids;
    target.handler = [&](HWND h, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg != WM_TIMER) return 0;
        ids.push_back(w);
        EXPECT_EQ(l, 0);
        if (++ticks == 5) {
            EXPECT_TRUE(KillTimer(h, 100));
            quiet.Start(loop, milliseconds(150));  // room for a dozen more had the kill not held
        }
        return 0;
    };
    HWND hwnd = CreateTarget(&target);
    EXPECT_EQ(SetTimer(hwnd, 100, 10, nullptr), 100u);
    ASSERT_EQ(RunGuarded(loop), 0);
    EXPECT_EQ(ticks, 5);
    EXPECT_EQ(ids, std::vector<WPARAM>(5, 100));
    SetLastError(0);
    EXPECT_FALSE(KillTimer(hwnd, 100));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DestroyWindow(hwnd);
}

// Three timers fall due while the loop is held up, so their ticks are queued together; the first
// tick kills two of them and restarts the third with a long period. None of the ticks queued
// behind it may arrive.
TEST(WindowTimer, ATickAlreadyQueuedWhenKilledOrRestartedIsDropped) {
    MessageLoop loop;
    Target target;
    std::vector<WPARAM> ticks;
    target.handler = [&](HWND h, UINT msg, WPARAM w, LPARAM) -> LRESULT {
        if (msg != WM_TIMER) return 0;
        ticks.push_back(w);
        if (ticks.size() == 1) {
            KillTimer(h, 1);
            KillTimer(h, 2);
            SetTimer(h, 3, 60'000, nullptr);
        }
        return 0;
    };
    HWND hwnd = CreateTarget(&target);
    SetTimer(hwnd, 1, 10, nullptr);
    SetTimer(hwnd, 2, 10, nullptr);
    SetTimer(hwnd, 3, 10, nullptr);
    std::this_thread::sleep_for(milliseconds(50));  // all three are due before the loop runs
    RunFor(loop, milliseconds(150));
    ASSERT_EQ(ticks.size(), 1u) << "a queued tick of a killed or restarted timer arrived";
    DestroyWindow(hwnd);
}

TEST(WindowTimer, RestartingChangesThePeriodWithoutASecondTimer) {
    MessageLoop loop;
    QuietPeriod quiet;
    Target target;
    int ticks = 0;
    target.handler = [&](HWND h, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_TIMER && ++ticks == 3) {
            SetTimer(h, 9, 60'000, nullptr);  // slow again: nothing more in the quiet period
            quiet.Start(loop, milliseconds(100));
        }
        return 0;
    };
    HWND hwnd = CreateTarget(&target);
    SetTimer(hwnd, 9, 60'000, nullptr);
    SetTimer(hwnd, 9, 10, nullptr);  // the same timer, now fast
    ASSERT_EQ(RunGuarded(loop), 0);
    EXPECT_EQ(ticks, 3);
    DestroyWindow(hwnd);
}

TEST(WindowTimer, DestroyingAWindowKillsItsTimers) {
    MessageLoop loop;
    QuietPeriod quiet;
    auto* target = new Target;  // freed with the window: a later tick would reach freed memory
    int ticks = 0;
    bool gone = false;
    target->handler = [&, target](HWND h, UINT msg, WPARAM, LPARAM) -> LRESULT {
        EXPECT_FALSE(gone);
        if (msg == WM_TIMER && ++ticks == 2) {
            loop.Post([&, h, target] {
                DestroyWindow(h);
                gone = true;
                delete target;
                quiet.Start(loop, milliseconds(100));
            });
        }
        return 0;
    };
    HWND hwnd = CreateTarget(target);
    SetTimer(hwnd, 1, 10, nullptr);
    SetTimer(hwnd, 2, 10, nullptr);
    ASSERT_EQ(RunGuarded(loop), 0);
    EXPECT_TRUE(gone);
    EXPECT_LE(ticks, 3);  // at most the other timer's tick queued with the second
}

struct ProcTicks {
    static inline int count = 0;
    static inline HWND window = nullptr;
    static inline QuietPeriod* quiet = nullptr;
    // The window's thread.
    static void Tick(HWND h, UINT msg, UINT_PTR id, DWORD) {
        EXPECT_EQ(msg, WM_TIMER);
        EXPECT_EQ(id, 5u);
        window = h;
        if (++count == 3) {
            KillTimer(h, id);
            quiet->Start(*MessageLoop::Current(), milliseconds(100));
        }
    }
};

TEST(WindowTimer, ATimerProcedureTakesThePlaceOfTheWindowProcedure) {
    MessageLoop loop;
    QuietPeriod quiet;
    Target target;
    HWND hwnd = CreateTarget(&target);
    ProcTicks::count = 0;
    ProcTicks::quiet = &quiet;
    EXPECT_EQ(SetTimer(hwnd, 5, 10, &ProcTicks::Tick), 5u);
    ASSERT_EQ(RunGuarded(loop), 0);
    EXPECT_EQ(ProcTicks::count, 3);
    EXPECT_EQ(ProcTicks::window, hwnd);
    EXPECT_EQ(CountOf(target.log, WM_TIMER), 0);
    DestroyWindow(hwnd);
}

// Loops on several threads, each with a window and a fast timer: every loop sees its own
// ticks only, and stopping is clean.
TEST(WindowTimer, TimersOfSeveralLoopsTickOnTheirOwnThreads) {
    constexpr int kThreads = 4;
    std::atomic<int> wrongThread{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            MessageLoop loop;
            Target target;
            std::thread::id me = std::this_thread::get_id();
            int ticks = 0;
            target.handler = [&](HWND h, UINT msg, WPARAM, LPARAM) -> LRESULT {
                if (msg != WM_TIMER) return 0;
                if (std::this_thread::get_id() != me) ++wrongThread;
                if (++ticks == 10) DestroyWindow(h);
                if (msg == WM_TIMER && ticks == 10) PostQuitMessage(0);
                return 0;
            };
            HWND hwnd = CreateTarget(&target);
            SetTimer(hwnd, 1, 10, nullptr);
            EXPECT_EQ(RunGuarded(loop), 0);
            EXPECT_EQ(ticks, 10);
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrongThread.load(), 0);
}

}  // namespace
