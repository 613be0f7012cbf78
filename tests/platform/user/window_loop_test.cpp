// The message loop: functions posted from another thread, and posters that outlive the loop.
#include <atomic>
#include <optional>

#include "platform/ext/messageloop.h"
#include "tests/platform/user/window_support.h"

using namespace window_test;

namespace {

constexpr UINT kStep = WM_USER + 3;

// The host hands script calls to the loop with Post while the capture side posts messages to
// the control's window: from one thread, both kinds keep the order they were queued in.
TEST(MessageLoop, FunctionsAndMessagesFromAnotherThreadRunInOrderOnTheLoop) {
    MessageLoop loop;
    std::vector<int> order;
    Target target;
    target.handler = [&](HWND, UINT msg, WPARAM w, LPARAM) -> LRESULT {
        if (msg == kStep) order.push_back(static_cast<int>(w));
        return 0;
    };
    HWND hwnd = CreateTarget(&target);
    std::thread host([&] {
        for (int i = 0; i < 1000; i += 2) {
            loop.Post([&, i] {
                EXPECT_EQ(MessageLoop::Current(), &loop);  // on the loop's thread
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
    DestroyWindow(hwnd);
}

// Threads keep posting while the loop is destroyed: each post runs or is refused, never
// reaching the destroyed loop (the thread sanitizer build checks the races).
TEST(MessageLoop, PostersOutlivingTheirLoopAreRefused) {
    std::optional<MessageLoop::Poster> poster;
    std::atomic<bool> stop{false};
    std::atomic<int> refused{0};
    std::vector<std::thread> posters;
    {
        MessageLoop loop;
        poster = loop.GetPoster();
        for (int i = 0; i < 3; ++i) {
            posters.emplace_back([&, p = *poster] {
                while (!stop.load()) {
                    if (!p.Post([] {})) ++refused;
                }
            });
        }
        loop.Post([] { PostQuitMessage(0); });
        EXPECT_EQ(RunGuarded(loop), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop.store(true);
    for (std::thread& t : posters) t.join();
    EXPECT_GT(refused.load(), 0);
    EXPECT_FALSE(poster->Post([] { ADD_FAILURE() << "ran after its loop was gone"; }));
    EXPECT_FALSE(poster->Quit());
}

}  // namespace
