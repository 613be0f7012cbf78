// Posted messages: delivery from other threads in order, and messages whose window is gone.

#include "platform/ext/messageloop.h"
#include "tests/platform/user/window_support.h"

using namespace window_test;

namespace {

constexpr UINT kCount = WM_USER + 1;
constexpr UINT kDone = WM_USER + 2;

TEST(WindowMessages, TwoSendersEveryMessageOnceOnTheWindowsThreadInOrderPerSender) {
    MessageLoop loop;
    constexpr LPARAM kPerSender = 50'000;
    LPARAM next[2] = {0, 0};
    int outOfOrder = 0;
    const std::thread::id loopThread = std::this_thread::get_id();
    Target target;
    target.handler = [&](HWND, UINT msg, WPARAM sender, LPARAM seq) -> LRESULT {
        EXPECT_EQ(std::this_thread::get_id(), loopThread);
        if (msg == kCount) {
            if (seq != next[sender]) ++outOfOrder;
            next[sender] = seq + 1;
        }
        if (msg == kDone) PostQuitMessage(0);
        return 0;
    };
    HWND hwnd = CreateTarget(&target);
    ASSERT_NE(hwnd, nullptr);
    auto send = [&](WPARAM sender) {
        for (LPARAM seq = 0; seq < kPerSender; ++seq) PostMessageA(hwnd, kCount, sender, seq);
    };
    // The closing message is posted once both senders have finished, so it comes last.
    std::thread closer([&] {
        std::thread a(send, 0), b(send, 1);
        a.join();
        b.join();
        PostMessageA(hwnd, kDone, 0, 0);
    });
    int code = RunGuarded(loop);
    closer.join();
    ASSERT_EQ(code, 0) << "the loop was stopped by the watchdog: messages were lost";
    EXPECT_EQ(next[0], kPerSender);
    EXPECT_EQ(next[1], kPerSender);
    EXPECT_EQ(outOfOrder, 0);
    DestroyWindow(hwnd);
}

// A window whose object is freed right after DestroyWindow, as a control's destructor does.
// A message that still reached the object would be a use after free; the tracker, which
// outlives it, counts every call of the procedure for the window once it is gone.
struct {
    int delivered = 0, callsAfterGone = 0;
    HWND gone = nullptr;
} tracker;  // the loop thread's
constexpr int kDestroyAt = 2000;

LRESULT DoomedProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd == tracker.gone) ++tracker.callsAfterGone;
    if (msg == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<int*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (self == nullptr || msg != kCount) return DefWindowProcA(hWnd, msg, wParam, lParam);
    EXPECT_EQ(*self, 42);
    if (++tracker.delivered == kDestroyAt) {
        DestroyWindow(hWnd);
        tracker.gone = hWnd;
        delete self;
    }
    return 0;
}

// A thousand messages are surely queued behind the destruction; a second thread keeps posting
// until the window is gone, racing with it.
TEST(WindowMessages, MessagesQueuedForADestroyedWindowAreDroppedUnseen) {
    MessageLoop loop;
    WNDCLASSA cls{};
    cls.lpfnWndProc = DoomedProc;
    cls.lpszClassName = "TalrecTestDoomed";
    ASSERT_NE(RegisterClassA(&cls), 0);
    HWND hwnd = CreateWindowExA(0, "TalrecTestDoomed", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                new int(42));
    ASSERT_NE(hwnd, nullptr);
    for (int i = 0; i < kDestroyAt + 1000; ++i) ASSERT_TRUE(PostMessageA(hwnd, kCount, 0, 0));
    std::thread sender([&] {
        while (PostMessageA(hwnd, kCount, 0, 0)) {
        }
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
        loop.Quit(7);
    });
    EXPECT_EQ(RunGuarded(loop), 7);
    sender.join();
    EXPECT_EQ(tracker.delivered, kDestroyAt);
    EXPECT_EQ(tracker.callsAfterGone, 0);
    EXPECT_FALSE(IsWindow(hwnd));
}

}  // namespace
