// The message loop: functions posted from other threads, quitting and running again, and
// what a loop leaves behind when it goes.
#include <atomic>
#include <optional>
#include <stdexcept>

#include "platform/window_support.h"
#include "platform/winuser.h"

using namespace window_test;
using std::chrono::milliseconds;

namespace {

constexpr UINT kStep = WM_USER + 3;

// The host hands script calls to the loop with Post while the capture side posts messages to
// the control's window: from one thread, both kinds keep the order they were queued in.
TEST(MessageLoop, FunctionsAndMessagesFromOneThreadKeepTheirOrder) {
    MessageLoop loop;
    std::vector<int> order;
    std::thread::id loopThread = std::this_thread::get_id();
    int offThread = 0;
    Target target;
    target.handler = [&](HWND, UINT msg, WPARAM w, LPARAM) -> LRESULT {
        if (msg == kStep) order.push_back(static_cast<int>(w));
        return 0;
    };
    HWND hwnd = CreateTarget(&target);
    std::thread host([&] {
        for (int i = 0; i < 1000; i += 2) {
            loop.Post([&, i] {
                if (std::this_thread::get_id() != loopThread) ++offThread;
                order.push_back(i);
            });
            PostMessageA(hwnd, kStep, i + 1, 0);
        }
        loop.Quit(3);
    });
    EXPECT_EQ(RunGuarded(loop), 3);
    host.join();
    ASSERT_EQ(order.size(), 1000u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(order[i], i);
    EXPECT_EQ(offThread, 0);
    DestroyWindow(hwnd);
}

TEST(MessageLoop, AQuitEndsOneRunAndLeavesLaterWorkForTheNext) {
    MessageLoop loop;
    std::vector<int> ran;
    loop.Post([&] { ran.push_back(1); });
    loop.Quit(11);
    loop.Post([&] { ran.push_back(2); });
    loop.Post([&] { PostQuitMessage(12); });
    EXPECT_EQ(RunGuarded(loop), 11);
    EXPECT_EQ(ran, std::vector<int>{1});
    EXPECT_EQ(RunGuarded(loop), 12);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST(MessageLoop, WmQuitPostedToAWindowEndsItsLoopWithoutReachingTheProcedure) {
    MessageLoop loop;
    Target target;
    HWND hwnd = CreateTarget(&target);
    std::thread([&] { EXPECT_TRUE(PostMessageA(hwnd, WM_QUIT, 42, 0)); }).join();
    EXPECT_EQ(RunGuarded(loop), 42);
    EXPECT_EQ(target.log, std::vector<UINT>{WM_CREATE});
    DestroyWindow(hwnd);
}

TEST(MessageLoop, OneLoopPerThreadRunOnlyByItsOwnThreadAndNotInsideItself) {
    MessageLoop loop;
    EXPECT_EQ(MessageLoop::Current(), &loop);
    EXPECT_THROW(MessageLoop second, std::logic_error);
    EXPECT_EQ(MessageLoop::Current(), &loop);
    std::thread([&] { EXPECT_THROW(loop.Run(), std::logic_error); }).join();
    bool nestedRefused = false;
    loop.Post([&] {
        try {
            loop.Run();
        } catch (const std::logic_error&) {
            nestedRefused = true;
        }
        PostQuitMessage(0);
    });
    EXPECT_EQ(RunGuarded(loop), 0);
    EXPECT_TRUE(nestedRefused);
}

// A window left open when its loop goes is removed without a message (its object may be gone
// already), its timer stops, and posts to it fail; a poster kept by another thread reports the
// loop gone instead of reaching freed memory.
TEST(MessageLoop, GoingAwayRemovesItsWindowsSilentlyAndRefusesLaterPosts) {
    std::optional<MessageLoop::Poster> poster;
    HWND left = nullptr;
    std::vector<UINT> log;
    {
        MessageLoop loop;
        poster = loop.GetPoster();
        auto* target = new Target;
        left = CreateTarget(target);
        SetTimer(left, 1, 10, nullptr);
        PostMessageA(left, kStep, 0, 0);
        log = target->log;
        delete target;  // the window outlives its object; the loop's end must not reach it
    }
    EXPECT_EQ(log, std::vector<UINT>{WM_CREATE});
    EXPECT_FALSE(IsWindow(left));
    EXPECT_FALSE(PostMessageA(left, kStep, 0, 0));
    EXPECT_FALSE(poster->Post([] { ADD_FAILURE() << "ran after its loop was gone"; }));
    EXPECT_FALSE(poster->Quit());
    EXPECT_EQ(MessageLoop::Current(), nullptr);

    // The thread may make a new loop, and its windows work as before.
    MessageLoop again;
    Target target;
    HWND fresh = CreateTarget(&target);
    ASSERT_NE(fresh, nullptr);
    PostMessageA(fresh, kStep, 0, 0);
    again.Quit();
    EXPECT_EQ(RunGuarded(again), 0);
    EXPECT_EQ(target.log, (std::vector<UINT>{WM_CREATE, kStep}));
    DestroyWindow(fresh);
}

// Many threads post to a loop while it is destroyed; each post either runs or is refused,
// never reaching a destroyed loop (the thread sanitizer build checks the races).
TEST(MessageLoop, PostersRacingWithTheLoopsEndAreSafe) {
    std::optional<MessageLoop::Poster> poster;
    std::atomic<bool> stop{false};
    std::atomic<int> ran{0}, refused{0};
    std::vector<std::thread> posters;
    {
        MessageLoop loop;
        poster = loop.GetPoster();
        for (int i = 0; i < 3; ++i) {
            posters.emplace_back([&, p = *poster] {
                while (!stop.load()) {
                    if (!p.Post([&] { ++ran; })) ++refused;
                }
            });
        }
        loop.Post([] { PostQuitMessage(0); });
        RunGuarded(loop);
    }
    std::this_thread::sleep_for(milliseconds(20));
    stop.store(true);
    for (std::thread& t : posters) t.join();
    EXPECT_GT(refused.load(), 0);
}

}  // namespace
