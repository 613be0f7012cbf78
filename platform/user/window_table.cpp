// The process's window table and class table: handles to window records, names to classes.
#include <cctype>
#include <unordered_map>

#include "platform/user/window_internal.h"

namespace window_detail {
namespace {

struct Tables {
    std::mutex mutex;
    // Guarded by mutex.
    std::unordered_map<std::uintptr_t, std::shared_ptr<Window>> windows;
    std::uintptr_t nextHandle = 0x10000;
    std::unordered_map<std::string, WNDPROC> classes;
    ATOM nextAtom = 0xC000;
};

// Never destroyed, so that threads still posting while the process exits find a live table.
Tables& GetTables() {
    static Tables* tables = new Tables;
    return *tables;
}

std::uintptr_t Key(HWND hWnd) {
    return reinterpret_cast<std::uintptr_t>(hWnd);
}

}  // namespace

std::shared_ptr<Window> FindWindowRecord(HWND hWnd) {
    Tables& t = GetTables();
    std::lock_guard lock(t.mutex);
    auto it = t.windows.find(Key(hWnd));
    return it == t.windows.end() ? nullptr : it->second;
}

HWND AddWindowRecord(std::shared_ptr<Window> window) {
    Tables& t = GetTables();
    std::lock_guard lock(t.mutex);
    auto cls = t.classes.find(window->className);
    if (cls == t.classes.end()) return nullptr;
    window->proc.store(cls->second);
    // Handles count up and are never reused, so a stale handle can never name a newer window.
    HWND handle = reinterpret_cast<HWND>(t.nextHandle);
    t.nextHandle += 2;
    window->handle = handle;
    t.windows.emplace(Key(handle), std::move(window));
    return handle;
}

void RemoveWindowRecord(HWND hWnd) {
    std::shared_ptr<Window> removed;  // released after the lock
    Tables& t = GetTables();
    std::lock_guard lock(t.mutex);
    auto it = t.windows.find(Key(hWnd));
    if (it != t.windows.end()) {
        removed = std::move(it->second);
        t.windows.erase(it);
    }
}

std::vector<std::shared_ptr<Window>> TakeWindowsOf(const MessageLoopState* loop) {
    std::vector<std::shared_ptr<Window>> taken;
    Tables& t = GetTables();
    std::lock_guard lock(t.mutex);
    for (auto it = t.windows.begin(); it != t.windows.end();) {
        if (it->second->loop.get() == loop) {
            taken.push_back(std::move(it->second));
            it = t.windows.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

std::string FoldClassName(LPCSTR name) {
    std::string folded(name);
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

}  // namespace window_detail

using namespace window_detail;

ATOM RegisterClassA(const WNDCLASSA* lpWndClass) {
    if (lpWndClass == nullptr || lpWndClass->lpfnWndProc == nullptr ||
        lpWndClass->lpszClassName == nullptr || lpWndClass->lpszClassName[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string folded = FoldClassName(lpWndClass->lpszClassName);
    Tables& t = GetTables();
    std::lock_guard lock(t.mutex);
    if (!t.classes.emplace(std::move(folded), lpWndClass->lpfnWndProc).second) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    ATOM atom = t.nextAtom;
    t.nextAtom = t.nextAtom == 0xFFFF ? 0xC000 : static_cast<ATOM>(t.nextAtom + 1);
    return atom;
}

BOOL UnregisterClassA(LPCSTR lpClassName, HINSTANCE /*hInstance*/) {
    if (lpClassName == nullptr) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    std::string folded = FoldClassName(lpClassName);
    Tables& t = GetTables();
    std::lock_guard lock(t.mutex);
    for (const auto& [key, window] : t.windows) {
        if (window->className == folded) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    }
    if (t.classes.erase(folded) == 0) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    return TRUE;
}
