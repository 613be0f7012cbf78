// Posted and sent messages: delivery from other threads, order, and what happens to messages
// whose window is gone.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>

#include "platform/window_support.h"
#include "platform/winuser.h"

using namespace window_test;

namespace {

constexpr UINT kCount = WM_USER + 1;
constexpr UINT kDone = WM_USER + 2;

TEST(WindowMessages, TwoSendersEveryMessageOnceAndInOrderPerSender) {
    MessageLoop loop;
    constexpr LPARAM kPerSender = 50'000;
    LPARAM next[2] = {0, 0};
    int outOfOrder = 0;
    std::thread::id loopThread = std::this_thread::get_id();
    bool wrongThread = false;
    Target target;
    target.handler = [&](HWND, UINT msg, WPARAM sender, LPARAM seq) -> LRESULT {
        if (std::this_thread::get_id() != loopThread) wrongThread = true;
        if (msg == kCount) {
            if (seq != next[sender]) ++outOfOrder;
            next[sender] = seq + 1;
        } else if (msg == kDone) {
            PostQuitMessage(0);
        }
        return 0;
    };
    HWND hwnd = CreateTarget(&target);
    ASSERT_NE(hwnd, nullptr);

    std::atomic<int> refused{0};
    auto send = [&](WPARAM sender) {
        for (LPARAM seq = 0; seq < kPerSender; ++seq) {
            if (!PostMessageA(hwnd, kCount, sender, seq)) ++refused;
        }
    };
    // The closing message is posted once both senders have finished, so it comes last.
    std::thread closer([&] {
        std::thread a(send, 0), b(send, 1);
        a.join();
        b.join();
        PostMessageA(hwnd, kDone, 0, 0);
    });
    auto start = std::chrono::steady_clock::now();
    int code = RunGuarded(loop);
    closer.join();
    // A figure for the record, not a limit: machines are shared and sanitizer builds are slow.
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld messages from two threads in %.1f ms (%.0f per second)\n",
                static_cast<long>(2 * kPerSender), seconds * 1000, 2 * kPerSender / seconds);

    ASSERT_EQ(code, 0) << "the loop was stopped by the watchdog: messages were lost";
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(next[0], kPerSender);
    EXPECT_EQ(next[1], kPerSender);
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_FALSE(wrongThread);
    EXPECT_EQ(std::count(target.log.begin(), target.log.end(), kCount), 2 * kPerSender);
    DestroyWindow(hwnd);
}

// A window whose object is freed right after DestroyWindow, as a control's destructor does.
// A queued message that still reached the object would be a use after free (the address
// sanitizer build reports it); the tracker, which outlives the object, also counts every call
// of the procedure for the window once it is gone.
struct Tracker {
    int destroyAt = 0;
    int delivered = 0;
    HWND gone = nullptr;
    int callsAfterGone = 0;
};
Tracker* tracker = nullptr;  // the running test's; read on the loop thread

struct Doomed {
    int secret = 42;
    // Window's thread.
    LRESULT OnMessage(HWND hWnd, UINT msg) {
        EXPECT_EQ(secret, 42);
        if (msg == kCount && ++tracker->delivered == tracker->destroyAt) {
            DestroyWindow(hWnd);
            tracker->gone = hWnd;
            delete this;
        }
        return 0;
    }
};

LRESULT DoomedProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd == tracker->gone) ++tracker->callsAfterGone;
    if (msg == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    if (auto* self = reinterpret_cast<Doomed*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA))) {
        return self->OnMessage(hWnd, msg);
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

HWND CreateDoomed(Tracker& t, int destroyAt) {
    static const bool registered = [] {
        WNDCLASSA cls{};
        cls.lpfnWndProc = DoomedProc;
        cls.lpszClassName = "TalrecTestDoomed";
        return RegisterClassA(&cls) != 0;
    }();
    EXPECT_TRUE(registered);
    tracker = &t;
    t.destroyAt = destroyAt;
    return CreateWindowExA(0, "TalrecTestDoomed", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                           new Doomed);
}

TEST(WindowMessages, QueuedMessagesOfADestroyedWindowAreDropped) {
    MessageLoop loop;
    Tracker t;
    HWND hwnd = CreateDoomed(t, 10);
    ASSERT_NE(hwnd, nullptr);
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(PostMessageA(hwnd, kCount, 0, i));
    loop.Quit(0);  // after the thousand messages

    ASSERT_EQ(RunGuarded(loop), 0);
    EXPECT_EQ(t.delivered, 10);
    EXPECT_EQ(t.callsAfterGone, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(hwnd, kCount, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST(WindowMessages, PostingRacesWithDestructionWithoutReachingTheFreedObject) {
    MessageLoop loop;
    Tracker t;
    HWND hwnd = CreateDoomed(t, 2000);
    ASSERT_NE(hwnd, nullptr);

    // The sender posts until the window is gone, then stops the loop; whatever it posted in
    // between is still queued behind the destruction.
    std::atomic<long> accepted{0};
    std::thread sender([&] {
        while (PostMessageA(hwnd, kCount, 0, 0)) ++accepted;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
        loop.Quit(7);
    });
    EXPECT_EQ(RunGuarded(loop), 7);
    sender.join();
    EXPECT_EQ(t.gone, hwnd);
    EXPECT_EQ(t.delivered, 2000);
    EXPECT_EQ(t.callsAfterGone, 0);
    EXPECT_GE(accepted.load(), 2000);
}

TEST(WindowMessages, SendMessageCallsTheProcedureAtOnceOnItsOwnThreadOnly) {
    MessageLoop loop;
    Target target;
    target.handler = [](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        return msg == kCount ? static_cast<LRESULT>(w) * 1000 + l : 0;
    };
    HWND hwnd = CreateTarget(&target);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(SendMessageA(hwnd, kCount, 4, 2), 4002);
    EXPECT_EQ(target.log.back(), kCount);

    std::thread other([&] {
        SetLastError(0);
        EXPECT_EQ(SendMessageA(hwnd, kCount, 1, 1), 0);
        EXPECT_EQ(GetLastError(), ERROR_WINDOW_OF_OTHER_THREAD);
    });
    other.join();
    EXPECT_EQ(target.log.size(), 2u);  // WM_CREATE and the one sent here
    DestroyWindow(hwnd);
}

TEST(WindowMessages, HandlesThatNameNoWindowAreRefusedEverywhere) {
    MessageLoop loop;
    Target target;
    HWND stale = CreateTarget(&target);
    ASSERT_TRUE(DestroyWindow(stale));
    HWND never = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0xdead0));
    for (HWND bad : {static_cast<HWND>(nullptr), stale, never, HWND_MESSAGE}) {
        SetLastError(0);
        EXPECT_FALSE(PostMessageA(bad, kCount, 0, 0));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
        EXPECT_EQ(SendMessageA(bad, kCount, 0, 0), 0);
        EXPECT_FALSE(DestroyWindow(bad));
        EXPECT_FALSE(IsWindow(bad));
        EXPECT_EQ(GetWindowLongPtrA(bad, GWLP_USERDATA), 0);
        EXPECT_EQ(SetWindowLongPtrA(bad, GWLP_USERDATA, 5), 0);
        EXPECT_EQ(SetTimer(bad, 1, 10, nullptr), 0u);
        EXPECT_FALSE(KillTimer(bad, 1));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    }
    // A handle is never given out again, so the stale one cannot reach a newer window.
    HWND fresh = CreateTarget(&target);
    EXPECT_NE(fresh, stale);
    EXPECT_FALSE(PostMessageA(stale, kCount, 0, 0));
    DestroyWindow(fresh);
}

// Two user-interface threads, each with its own loop and window, posting to each other.
TEST(WindowMessages, EachWindowRunsOnTheThreadThatCreatedIt) {
    struct Side {
        std::thread::id thread;
        HWND hwnd = nullptr;
        int received = 0;
        bool wrongThread = false;
    };
    Side sides[2];
    std::atomic<int> ready{0};
    constexpr int kEach = 5000;

    auto run = [&](int me) {
        MessageLoop loop;
        Side& side = sides[me];
        side.thread = std::this_thread::get_id();
        Target target;
        target.handler = [&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
            if (msg != kCount) return 0;
            if (std::this_thread::get_id() != side.thread) side.wrongThread = true;
            if (++side.received == kEach) PostQuitMessage(0);
            return 0;
        };
        side.hwnd = CreateTarget(&target);
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();
        HWND peer = sides[1 - me].hwnd;
        // Another thread's window takes posts but refuses the owner-only calls.
        EXPECT_FALSE(DestroyWindow(peer));
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        EXPECT_EQ(SetTimer(peer, 1, 10, nullptr), 0u);
        EXPECT_EQ(GetLastError(), ERROR_WINDOW_OF_OTHER_THREAD);
        EXPECT_TRUE(IsWindow(peer));
        for (int i = 0; i < kEach; ++i) PostMessageA(peer, kCount, 0, i);
        EXPECT_EQ(RunGuarded(loop), 0);
        ++ready;  // the peer may still post until both are done
        while (ready.load() < 4) std::this_thread::yield();
        DestroyWindow(side.hwnd);
    };
    std::thread a(run, 0), b(run, 1);
    a.join();
    b.join();
    for (const Side& side : sides) {
        EXPECT_EQ(side.received, kEach);
        EXPECT_FALSE(side.wrongThread);
    }
}

}  // namespace
