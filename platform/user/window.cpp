// Windows: creation and destruction, window-data slots, sent and posted messages.
#include <boost/asio/post.hpp>

#include "platform/user/window_internal.h"

namespace window_detail {

std::shared_ptr<Window> FindOwnWindow(HWND hWnd, DWORD otherThreadError) {
    std::shared_ptr<Window> window = FindWindowRecord(hWnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (window->loop.get() != CurrentLoop()) {
        SetLastError(otherThreadError);
        return nullptr;
    }
    return window;
}

LRESULT CallProc(Window& window, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = window.proc.load();
    if (proc == nullptr) return DefWindowProcA(window.handle, msg, wParam, lParam);
    return proc(window.handle, msg, wParam, lParam);
}

namespace {

// Owner thread. Sends the last two messages, then takes the window out of the table and stops
// its timers, even when a procedure throws; a second call (from WM_DESTROY, say) returns at once.
void Destroy(Window& window) {
    if (window.phase == Phase::Destroying) return;
    window.phase = Phase::Destroying;
    struct Remove {
        Window& window;
        ~Remove() {
            RemoveWindowRecord(window.handle);
            KillAllTimers(window);
        }
    } remove{window};
    CallProc(window, WM_DESTROY, 0, 0);
    CallProc(window, WM_NCDESTROY, 0, 0);
}

// Runs on the window's loop thread: hands a posted message to the procedure if the window is
// still there. A window destroyed meanwhile is no longer in the table, so nothing of it is
// touched.
void Deliver(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<Window> window = FindWindowRecord(hWnd);
    if (!window || window->phase == Phase::Destroying) return;
    CallProc(*window, msg, wParam, lParam);
}

}  // namespace
}  // namespace window_detail

using namespace window_detail;

HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                     int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                     HINSTANCE hInstance, LPVOID lpParam) {
    MessageLoopState* loop = CurrentLoop();
    if (loop == nullptr) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return nullptr;
    }
    if (lpClassName == nullptr) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    auto window = std::make_shared<Window>();
    window->loop = loop->shared_from_this();
    window->rect = {X, Y, X + nWidth, Y + nHeight};
    window->visible = (dwStyle & WS_VISIBLE) != 0;
    window->className = FoldClassName(lpClassName);
    HWND handle = AddWindowRecord(window);
    if (handle == nullptr) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }

    CREATESTRUCTA create{};
    create.lpCreateParams = lpParam;
    create.hInstance = hInstance;
    create.hMenu = hMenu;
    create.hwndParent = hWndParent;
    create.cy = nHeight;
    create.cx = nWidth;
    create.y = Y;
    create.x = X;
    create.style = static_cast<LONG>(dwStyle);
    create.lpszName = lpWindowName;
    create.lpszClass = lpClassName;
    create.dwExStyle = dwExStyle;
    LRESULT result;
    try {
        result = CallProc(*window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create));
    } catch (...) {
        Destroy(*window);
        throw;
    }
    if (result == -1) Destroy(*window);
    // Refused, or destroyed by its own procedure during WM_CREATE.
    if (window->phase == Phase::Destroying) return nullptr;
    window->phase = Phase::Alive;
    return handle;
}

BOOL DestroyWindow(HWND hWnd) {
    std::shared_ptr<Window> window = FindOwnWindow(hWnd, ERROR_ACCESS_DENIED);
    if (!window) return FALSE;
    Destroy(*window);
    return TRUE;
}

BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL /*bRepaint*/) {
    std::shared_ptr<Window> window = FindOwnWindow(hWnd, ERROR_ACCESS_DENIED);
    if (!window) return FALSE;
    window->rect = {X, Y, X + nWidth, Y + nHeight};
    return TRUE;
}

BOOL GetWindowRect(HWND hWnd, LPRECT lpRect) {
    std::shared_ptr<Window> window = FindOwnWindow(hWnd, ERROR_ACCESS_DENIED);
    if (!window || lpRect == nullptr) return FALSE;
    *lpRect = window->rect;
    return TRUE;
}

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
    std::shared_ptr<Window> window = FindOwnWindow(hWnd, ERROR_ACCESS_DENIED);
    if (!window) return FALSE;
    const bool was = window->visible;
    window->visible = nCmdShow != SW_HIDE;
    return was ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hWnd) {
    std::shared_ptr<Window> window = FindOwnWindow(hWnd, ERROR_ACCESS_DENIED);
    return window && window->visible ? TRUE : FALSE;
}

BOOL IsWindow(HWND hWnd) {
    return FindWindowRecord(hWnd) ? TRUE : FALSE;
}

LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    if (Msg == WM_CLOSE) DestroyWindow(hWnd);
    return 0;
}

LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex) {
    std::shared_ptr<Window> window = FindWindowRecord(hWnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (nIndex) {
        case GWLP_USERDATA:
            return window->userData.load();
        case GWLP_WNDPROC:
            return reinterpret_cast<LONG_PTR>(window->proc.load());
        default:
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
    }
}

LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    std::shared_ptr<Window> window = FindWindowRecord(hWnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (nIndex) {
        case GWLP_USERDATA:
            return window->userData.exchange(dwNewLong);
        case GWLP_WNDPROC:
            return reinterpret_cast<LONG_PTR>(
                window->proc.exchange(reinterpret_cast<WNDPROC>(dwNewLong)));
        default:
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
    }
}

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<MessageLoopState> loop;
    if (std::shared_ptr<Window> window = FindWindowRecord(hWnd)) loop = window->loop;
    if (!loop) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (Msg == WM_QUIT) {
        PostQuit(*loop, static_cast<int>(wParam));
        return TRUE;
    }
    // The handler carries the handle only: at delivery the window is looked up again.
    boost::asio::post(loop->io,
                      [hWnd, Msg, wParam, lParam] { Deliver(hWnd, Msg, wParam, lParam); });
    return TRUE;
}

LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<Window> window = FindOwnWindow(hWnd, ERROR_WINDOW_OF_OTHER_THREAD);
    if (!window) return 0;
    return CallProc(*window, Msg, wParam, lParam);
}
