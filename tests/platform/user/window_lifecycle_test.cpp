// Window creation and destruction, and the message box.
#include <string>

#include "platform/ext/hosthooks.h"
#include "platform/ext/messageloop.h"
#include "tests/platform/user/window_support.h"

using namespace window_test;

namespace {

constexpr UINT kPing = WM_USER + 7;

TEST(WindowLifecycle, CreateComesFirstAndDestroyLastWithTheHandleValidInBoth) {
    MessageLoop loop;
    Target target;
    target.handler = [&](HWND h, UINT msg, WPARAM, LPARAM) -> LRESULT {
        EXPECT_TRUE(IsWindow(h)) << "message " << msg;
        if (msg == WM_CREATE) PostMessageA(h, kPing, 0, 0);  // arrives once creation is done
        if (msg == kPing) DestroyWindow(h);
        if (msg == WM_NCDESTROY) PostQuitMessage(0);
        return 0;
    };
    HWND hwnd = CreateTarget(&target);
    ASSERT_NE(hwnd, nullptr);
    ASSERT_EQ(RunGuarded(loop), 0);
    EXPECT_EQ(target.log, (std::vector<UINT>{WM_CREATE, kPing, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST(WindowLifecycle, MinusOneFromCreateRefusesTheWindowAndEverythingItStarted) {
    MessageLoop loop;
    Target target;
    HWND during = nullptr;
    target.handler = [&](HWND h, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg != WM_CREATE) return 0;
        during = h;
        SetTimer(h, 100, 10, nullptr);
        PostMessageA(h, kPing, 0, 0);
        return -1;
    };
    EXPECT_EQ(CreateTarget(&target), nullptr);
    EXPECT_FALSE(IsWindow(during));
    EXPECT_EQ(RunGuarded(loop, std::chrono::milliseconds(100)), kWatchdogExit);
    // No tick and no posted message: only the creation and the destruction it caused.
    EXPECT_EQ(target.log, (std::vector<UINT>{WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
}

TEST(WindowLifecycle, MessageBoxReachesTheHostsHookAndGivesItsAnswer) {
    HWND owner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x40)), seenOwner = nullptr;
    std::string seen;
    MessageBoxHook previous =
        SetMessageBoxHook([&](HWND h, const char* text, const char* caption, UINT type) {
            seenOwner = h;
            seen = std::string(text) + "|" + caption + "|" + std::to_string(type);
            return IDNO;
        });
    EXPECT_EQ(MessageBoxA(owner, "Folder set", "Recorder", MB_YESNO), IDNO);
    EXPECT_EQ(seenOwner, owner);
    EXPECT_EQ(seen, "Folder set|Recorder|" + std::to_string(MB_YESNO));
    SetMessageBoxHook(nullptr);
    EXPECT_EQ(MessageBoxA(nullptr, "unseen", "test", MB_OK), 0);  // no hook, no button chosen
    SetMessageBoxHook(previous);
}

}  // namespace
