// The containers' route for the platform's debug output: on the loop's thread, at once when
// written there, posted when written on another thread, and back to standard error after; each
// text with the owner of the thread that wrote it.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/common/DebugRoute.h"
#include "platform/debugapi.h"
#include "platform/ext/messageloop.h"

namespace talrec::host {
namespace {

TEST(DebugRoute, TextsReachTheLoopThreadThenStandardErrorAgain) {
    MessageLoop loop;
    std::vector<std::pair<std::string, std::thread::id>> shown;
    {
        DebugRoute route(loop, [&shown](const std::string& text, ULONGLONG owner) {
            shown.emplace_back(text + " of " + std::to_string(owner), std::this_thread::get_id());
        });
        {
            const DebugOwner owner(7);
            OutputDebugStringA("on the loop thread\n");
        }
        ASSERT_EQ(shown.size(), 1u) << "shown before the writer returns";
        EXPECT_EQ(shown[0].first, "on the loop thread of 7");

        std::thread device([] { OutputDebugStringA("from a device thread"); });
        device.join();
        EXPECT_EQ(shown.size(), 1u) << "not shown on the device thread";
        loop.Quit(0);
        loop.Run();
        ASSERT_EQ(shown.size(), 2u);
        EXPECT_EQ(shown[1].first, "from a device thread of 0");
        EXPECT_EQ(shown[1].second, std::this_thread::get_id());
        EXPECT_EQ(route.Count(), 2);

        std::thread late([] { OutputDebugStringA("queued as the route ends"); });
        late.join();
    }
    loop.Quit(0);
    loop.Run();
    EXPECT_EQ(shown.size(), 2u) << "a text still queued when the route ended is not shown";
    testing::internal::CaptureStderr();
    OutputDebugStringA("after the route");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "after the route\n");
}

}  // namespace
}  // namespace talrec::host
