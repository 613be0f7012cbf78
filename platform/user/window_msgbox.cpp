// The message box: handed to the host's hook.
#include <cstdio>
#include <mutex>

#include "platform/ext/hosthooks.h"
#include "platform/winuser.h"

namespace {

std::mutex hookMutex;
// Guarded by hookMutex. Never destroyed, so a late call during process exit finds it.
MessageBoxHook& Hook() {
    static MessageBoxHook* hook = new MessageBoxHook;
    return *hook;
}

}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard lock(hookMutex);
    std::swap(Hook(), hook);
    return hook;
}

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    MessageBoxHook hook;
    {
        std::lock_guard lock(hookMutex);
        hook = Hook();
    }
    const char* text = lpText != nullptr ? lpText : "";
    const char* caption = lpCaption != nullptr ? lpCaption : "Error";
    // The hook is called without the lock, so that it may itself show a box or replace itself.
    if (hook) return hook(hWnd, text, caption, uType);
    std::fprintf(stderr, "%s: %s\n", caption, text);
    return 0;
}
