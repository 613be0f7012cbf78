// Window creation and destruction, classes, window-data slots and the message box.
#include <string>

#include "platform/window_support.h"
#include "platform/winuser.h"

using namespace window_test;

namespace {

constexpr UINT kPing = WM_USER + 7;

TEST(WindowLifecycle, CreateComesFirstAndDestroyLastWithTheHandleValidInBoth) {
    MessageLoop loop;
    Target target;
    std::vector<BOOL> validDuring;
    target.handler = [&](HWND h, UINT msg, WPARAM, LPARAM l) -> LRESULT {
        if (msg == WM_CREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTA*>(l);
            EXPECT_EQ(create->lpCreateParams, &target);
            EXPECT_STREQ(create->lpszName, "title");
            EXPECT_EQ(create->cx, 30);
            PostMessageA(h, kPing, 0, 0);  // arrives once creation is complete
        }
        if (msg == WM_CREATE || msg == WM_DESTROY || msg == WM_NCDESTROY) {
            validDuring.push_back(IsWindow(h));
        }
        if (msg == kPing) DestroyWindow(h);
        if (msg == WM_NCDESTROY) PostQuitMessage(0);
        return 0;
    };
    TargetClass();
    HWND hwnd = CreateWindowExA(0, "talrectesttarget", "title", WS_POPUP, 10, 20, 30, 40, nullptr,
                                nullptr, nullptr, &target);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(IsWindow(hwnd));
    ASSERT_EQ(RunGuarded(loop), 0);

    EXPECT_EQ(target.log, (std::vector<UINT>{WM_CREATE, kPing, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_EQ(validDuring, (std::vector<BOOL>{TRUE, TRUE, TRUE}));
    EXPECT_FALSE(IsWindow(hwnd));
    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
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
    RunFor(loop, std::chrono::milliseconds(100));
    // No tick and no posted message: only the creation and the destruction it caused.
    EXPECT_EQ(target.log, (std::vector<UINT>{WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
}

TEST(WindowLifecycle, DestroyedDuringItsOwnCreateOrDestroyIsHandledOnce) {
    MessageLoop loop;
    Target target;
    target.handler = [&](HWND h, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_CREATE || msg == WM_DESTROY) {
            EXPECT_TRUE(DestroyWindow(h));
        }
        return 0;
    };
    EXPECT_EQ(CreateTarget(&target), nullptr);
    EXPECT_EQ(target.log, (std::vector<UINT>{WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
}

TEST(WindowLifecycle, ClassesAreFoundByNameWithoutRegardToCase) {
    MessageLoop loop;
    WNDCLASSA cls{};
    cls.lpfnWndProc = DefWindowProcA;
    cls.lpszClassName = "TalrecCaseClass";
    ASSERT_NE(RegisterClassA(&cls), 0);
    cls.lpszClassName = "TALRECCASECLASS";
    EXPECT_EQ(RegisterClassA(&cls), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

    HWND hwnd = CreateWindowExA(0, "talreccaseclass", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_FALSE(UnregisterClassA("TalrecCaseClass", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
    DestroyWindow(hwnd);
    EXPECT_TRUE(UnregisterClassA("TalrecCaseClass", nullptr));
    EXPECT_FALSE(UnregisterClassA("TalrecCaseClass", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);

    EXPECT_EQ(CreateWindowExA(0, "TalrecCaseClass", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
    cls.lpfnWndProc = nullptr;
    EXPECT_EQ(RegisterClassA(&cls), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(WindowLifecycle, AThreadWithoutALoopCannotCreateWindows) {
    std::thread bare([] {
        Target target;
        EXPECT_EQ(CreateTarget(&target), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
        EXPECT_TRUE(target.log.empty());
        EXPECT_EQ(MessageLoop::Current(), nullptr);
    });
    bare.join();
}

TEST(WindowLifecycle, MessageBoxReachesTheHostsHookAndGivesItsAnswer) {
    struct Seen {
        HWND hwnd;
        std::string text, caption;
        UINT type;
    };
    std::vector<Seen> seen;
    MessageBoxHook previous =
        SetMessageBoxHook([&](HWND h, const char* text, const char* caption, UINT type) {
            seen.push_back({h, text, caption, type});
            return (type & 0xF) == MB_YESNO ? IDNO : IDOK;
        });
    HWND fake = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x40));
    EXPECT_EQ(MessageBoxA(fake, "Folder set", "Recorder", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, MB_YESNO | MB_ICONQUESTION), IDNO);
    SetMessageBoxHook(previous);

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].hwnd, fake);
    EXPECT_EQ(seen[0].text, "Folder set");
    EXPECT_EQ(seen[0].caption, "Recorder");
    EXPECT_EQ(seen[0].type, MB_OK);
    EXPECT_EQ(seen[1].text, "");
    EXPECT_EQ(seen[1].caption, "Error");
    EXPECT_EQ(seen[1].type, MB_YESNO | MB_ICONQUESTION);

    // Without a hook no button was chosen.
    MessageBoxHook none = SetMessageBoxHook(nullptr);
    EXPECT_EQ(MessageBoxA(nullptr, "unseen", "test", MB_OK), 0);
    SetMessageBoxHook(none);
}

}  // namespace
