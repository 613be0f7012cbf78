#include "MessageBoxes.h"

#include "Text.h"

namespace {

// The hook procedure has no context argument: the one hook of the process keeps its state here.
HHOOK g_hook = nullptr;
int g_answer = 0;
std::vector<AnsweredBox> g_answered;
std::vector<HWND> g_seen;  // boxes already answered (activation may repeat)

// The static control that holds a message box's text.
constexpr int kMessageTextId = 0xFFFF;

bool IsDialog(HWND window) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    return lstrcmpA(name, "#32770") == 0;
}

std::string WindowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return Narrow(text);
}

LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        HWND textControl = GetDlgItem(box, kMessageTextId);
        std::erase_if(g_seen, [](HWND earlier) { return !IsWindow(earlier); });
        bool seen = false;
        for (HWND earlier : g_seen) seen = seen || earlier == box;
        if (!seen && IsDialog(box) && textControl != nullptr) {
            int button = g_answer;
            if (button == 0) {
                LRESULT def = SendMessageW(box, DM_GETDEFID, 0, 0);
                button = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : IDOK;
            }
            AnsweredBox answered{WindowText(box), WindowText(textControl), button};
            Say("msgbox \"" + answered.caption + "\": " + answered.text + " -> button " +
                std::to_string(button));
            g_answered.push_back(std::move(answered));
            g_seen.push_back(box);
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

}  // namespace

bool MessageBoxes::Install(int answer) {
    g_answer = answer;
    g_hook = SetWindowsHookExW(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    return g_hook != nullptr;
}

void MessageBoxes::Uninstall() {
    if (g_hook != nullptr) UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
}

std::vector<AnsweredBox> MessageBoxes::TakeAnswered() {
    std::vector<AnsweredBox> answered;
    answered.swap(g_answered);
    return answered;
}
