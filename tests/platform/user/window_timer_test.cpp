// Window timers: a timer ticks until it is killed and never after.

#include "platform/ext/messageloop.h"
#include "tests/platform/user/window_support.h"

using namespace window_test;

namespace {

// Two timers tick; after the fifth tick the loop is held up so that both fall due together and
// their ticks are queued together. The first of them kills both: the other, already queued,
// must not arrive, nor any later one. A third timer ends the quiet period.
TEST(WindowTimer, TicksUntilKilledAndNeverAfterEvenWhenATickIsQueued) {
    MessageLoop loop;
    Target target;
    int ticks = 0, afterKill = 0;
    bool killed = false;
    target.handler = [&](HWND h, UINT msg, WPARAM id, LPARAM) -> LRESULT {
        if (msg != WM_TIMER) return 0;
        if (id == 3) {
            PostQuitMessage(0);
        } else if (killed) {
            ++afterKill;
        } else if (++ticks == 5) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } else if (ticks == 6) {
            EXPECT_TRUE(KillTimer(h, 1));
            EXPECT_TRUE(KillTimer(h, 2));
            killed = true;
            SetTimer(h, 3, 150, nullptr);  // room for a dozen more ticks had the kill not held
        }
        return 0;
    };
    HWND hwnd = CreateTarget(&target);
    ASSERT_EQ(SetTimer(hwnd, 1, 10, nullptr), 1u);
    ASSERT_EQ(SetTimer(hwnd, 2, 10, nullptr), 2u);
    ASSERT_EQ(RunGuarded(loop), 0);
    EXPECT_EQ(ticks, 6);
    EXPECT_EQ(afterKill, 0);
    EXPECT_FALSE(KillTimer(hwnd, 1));
    DestroyWindow(hwnd);
}

}  // namespace
