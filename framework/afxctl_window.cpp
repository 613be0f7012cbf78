// COleControl's window: created on activation, destroyed on Close, on in-place deactivation,
// with its parent, or when the last reference goes. The window procedure runs on the thread
// that created the window.
#include <mutex>

#include "framework/afxctl.h"
#include "platform/libloaderapi.h"

namespace {

constexpr char kControlClass[] = "TalrecOleControl";

// The module that holds this code: its window class is its own, so that two modules with
// this framework (or one loaded twice) never share a procedure.
HINSTANCE ModuleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&ControlWindowProc), &module);
    return module;
}

// The window class is registered while controls of this module use it and unregistered after
// the last one is gone, so that nothing of it outlives a module that is unloaded.
std::mutex g_classLock;
int g_classUsers = 0;

bool AcquireControlClass() {
    std::lock_guard lock(g_classLock);
    if (g_classUsers == 0) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = ControlWindowProc;
        wc.hInstance = ModuleInstance();
        wc.lpszClassName = kControlClass;
        if (RegisterClassA(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    }
    ++g_classUsers;
    return true;
}

void ReleaseControlClass() {
    std::lock_guard lock(g_classLock);
    if (--g_classUsers == 0) UnregisterClassA(kControlClass, ModuleInstance());
}

}  // namespace

// Window procedure of every control window (control's thread). The control is found through
// the window's user-data slot, set at WM_CREATE and cleared at WM_NCDESTROY; messages before
// WM_CREATE get the default handling.
LRESULT CALLBACK ControlWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
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
        case WM_NCDESTROY: {
            HWND hwnd = m_hWnd;
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
            m_hWnd = nullptr;
            return DefWindowProcA(hwnd, message, wParam, lParam);
        }
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

COleControl::~COleControl() {
    if (usesWindowClass_) ReleaseControlClass();
    module_.RemoveObject();
}

int COleControl::OnCreate(CREATESTRUCTA*) {
    return 0;
}
void COleControl::OnDestroy() {}
void COleControl::OnTimer(UINT_PTR) {}
bool COleControl::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

HRESULT COleControl::CreateControlWindow(HWND parent, const RECT& position) {
    if (m_hWnd != nullptr) return S_OK;
    if (!usesWindowClass_) {
        if (!AcquireControlClass()) return E_FAIL;
        usesWindowClass_ = true;
    }
    HWND hwnd =
        CreateWindowExA(0, kControlClass, identity_.userTypeName, WS_CHILD, position.left,
                        position.top, position.right - position.left,
                        position.bottom - position.top, parent, nullptr, ModuleInstance(), this);
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
