// The container's hooks on Windows. The message box is the system's dialog: a CBT hook of the
// thread that set the route sees each box as it is activated, hands its text and caption to the
// route, and presses the button the route answers. The debug output is the system's, read by
// debuggers only: the hook is kept but never called. The owner per thread is kept by
// platform/kernel/debug_owner.cpp, which both targets build.
#include "platform/ext/hosthooks.h"

#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/sdk.h"

namespace {

// The static control that holds a message box's text.
constexpr int kMessageTextId = 0xFFFF;

std::mutex g_mutex;
MessageBoxHook g_boxHook;      // under g_mutex
HHOOK g_cbt = nullptr;         // under g_mutex
std::vector<HWND> g_answered;  // boxes answered already (activation may repeat); CBT thread

// A window's text in UTF-8, as the route hands it on, whatever the ANSI code page.
std::string WindowText(HWND window) {
    wchar_t wide[2048] = {};
    const int length = GetWindowTextW(window, wide, 2048);
    char text[3 * 2048 + 1] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, length, text, sizeof text - 1, nullptr, nullptr);
    return text;
}

// On the thread that set the hook, which shows the box.
LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char className[16] = {};
        GetClassNameA(box, className, sizeof className);
        HWND textControl = GetDlgItem(box, kMessageTextId);
        std::erase_if(g_answered, [](HWND earlier) { return !IsWindow(earlier); });
        bool seen = false;
        for (HWND earlier : g_answered) seen = seen || earlier == box;
        MessageBoxHook hook;
        {
            std::lock_guard lock(g_mutex);
            hook = g_boxHook;
        }
        if (!seen && hook && textControl != nullptr && lstrcmpA(className, "#32770") == 0) {
            g_answered.push_back(box);
            // The dialog does not tell its MB_* type; the route answers with a button id.
            const int button = hook(GetParent(box), WindowText(textControl).c_str(),
                                    WindowText(box).c_str(), MB_OK);
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard lock(g_mutex);
    MessageBoxHook previous = std::move(g_boxHook);
    g_boxHook = std::move(hook);
    if (g_boxHook && g_cbt == nullptr) {
        g_cbt = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    } else if (!g_boxHook && g_cbt != nullptr) {
        UnhookWindowsHookEx(g_cbt);
        g_cbt = nullptr;
    }
    return previous;
}

void SetDebugOutputHook(DEBUGOUTPUTHOOK, void*) {}
