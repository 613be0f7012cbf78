// COleControl's window: created on in-place activation, destroyed on Close or when the last
// reference goes. The window procedure runs on the thread that created the window.
#include <mutex>

#include "framework/afxctl.h"

namespace {

constexpr char kControlClass[] = "TalrecOleControl";

void RegisterControlClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = ControlWindowProc;
        wc.lpszClassName = kControlClass;
        RegisterClassA(&wc);
    });
}

}  // namespace

// Window procedure of every control window (control's thread). The control is found through
// the window's user-data slot, set at WM_CREATE and cleared at WM_NCDESTROY.
LRESULT ControlWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    COleControl* control = nullptr;
    if (message == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        control = static_cast<COleControl*>(create->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control));
        control->m_hWnd = hwnd;
    } else {
        control = reinterpret_cast<COleControl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    }
    if (control == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
    return control->WindowProc(message, wParam, lParam);
}

LRESULT COleControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate(reinterpret_cast<CREATESTRUCTA*>(lParam));
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
            m_hWnd = nullptr;
            return 0;
        case WM_TIMER:
            OnTimer(static_cast<UINT_PTR>(wParam));
            return 0;
        default:
            break;
    }
    LRESULT result = 0;
    if (OnWindowMessage(message, wParam, lParam, result)) return result;
    return DefWindowProcA(m_hWnd, message, wParam, lParam);
}

int COleControl::OnCreate(CREATESTRUCTA*) {
    return 0;
}
void COleControl::OnDestroy() {}
void COleControl::OnTimer(UINT_PTR) {}
bool COleControl::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

HRESULT COleControl::CreateControlWindow(HWND parent) {
    if (m_hWnd != nullptr) return S_OK;
    RegisterControlClass();
    HWND hwnd = CreateWindowExA(0, kControlClass, identity_.userTypeName, WS_CHILD, 0, 0, 0, 0,
                                parent, nullptr, nullptr, this);
    return hwnd != nullptr ? S_OK : E_FAIL;
}

void COleControl::DestroyControlWindow() {
    if (m_hWnd != nullptr) DestroyWindow(m_hWnd);
}

UINT_PTR COleControl::SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc) {
    return ::SetTimer(m_hWnd, id, elapse, proc);
}

BOOL COleControl::KillTimer(UINT_PTR id) {
    return ::KillTimer(m_hWnd, id);
}

int COleControl::AfxMessageBox(const char* text, UINT type) {
    return MessageBoxA(m_hWnd, text, identity_.appName, type);
}

void COleControl::OnProperties() {
    AfxMessageBox(identity_.userTypeName, MB_OK);
}
