// Window services: windows as handles in a table, a window procedure per window, posted and
// sent messages, timers, the message box, and the message loop of a user-interface thread.
//
// Every window here is a message-only window: it has a class, a procedure, a user-data slot and
// timers, and it paints nothing. Parent, menu, instance, position and size are accepted for the
// published signatures and handed to WM_CREATE, but they mean nothing: there is no window
// hierarchy, and destroying a "parent" destroys no other window.
//
// Threads. Each thread that creates windows first makes a MessageLoop
// (platform/ext/messageloop.h); a window belongs to the loop of the thread that created it, and
// its procedure only ever runs on that thread.
// - Callable from any thread: PostMessageA, IsWindow, GetWindowLongPtrA, SetWindowLongPtrA,
//   RegisterClassA, UnregisterClassA.
// - Only on the window's own thread (elsewhere they fail, setting the error named on them):
//   DestroyWindow, SendMessageA, SetTimer, KillTimer. CreateWindowExA and PostQuitMessage act
//   on the calling thread's loop.
// Handles are keys into one table for the process, never pointers; a handle is never reused,
// so a stale handle finds nothing rather than another window.
//
// What the implementation checks: every entry point looks its handle up first and fails with
// ERROR_INVALID_WINDOW_HANDLE when the window does not exist, and the owner-only calls check
// the calling thread. What the caller ensures: a MessageLoop is destroyed on its own thread,
// not while it runs, and outlives every use of it by reference from other threads (a Poster
// does not need that); a procedure or a user object reached through GWLP_USERDATA stays valid
// until the window's WM_NCDESTROY, after which nothing calls it for that window.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include <cstdint>

#include "platform/windef.h"

// Handle and integer types of the window services, with the Windows names and widths. Handles
// are opaque: nothing here ever dereferences one (HINSTANCE as in platform/libloaderapi.h).
using LONG_PTR = std::intptr_t;
using ATOM = WORD;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
struct HMENU__;
using HMENU = HMENU__*;
struct HICON__;
using HICON = HICON__*;
using HCURSOR = HICON;
struct HBRUSH__;
using HBRUSH = HBRUSH__*;

// Messages.
inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_NCDESTROY = 0x0082;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;

// Window-service error codes as GetLastError reports them.
inline constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
inline constexpr DWORD ERROR_WINDOW_OF_OTHER_THREAD = 1408;
inline constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
inline constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
inline constexpr DWORD ERROR_CLASS_HAS_WINDOWS = 1412;
inline constexpr DWORD ERROR_INVALID_INDEX = 1413;
inline constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;

// A window procedure. Runs on the thread that created the window, for messages sent with
// SendMessageA, posted with PostMessageA (delivered by that thread's MessageLoop), timer ticks
// and the creation and destruction messages.
using WNDPROC = LRESULT (*)(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// A timer procedure, called in place of the window procedure for the ticks of a timer started
// with one. Runs on the window's thread. dwTime is a millisecond count of a monotonic clock.
using TIMERPROC = void (*)(HWND hWnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);

// Window class. Only lpfnWndProc and lpszClassName matter; the class name is compared without
// regard to case, and the instance plays no part in finding a class.
struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

// A rectangle in pixels: left and top inside, right and bottom just outside.
struct RECT {
    LONG left, top, right, bottom;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;

// What WM_CREATE carries in lParam: the arguments of CreateWindowExA. Valid during WM_CREATE.
struct CREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
};

inline constexpr DWORD WS_OVERLAPPED = 0x00000000;
inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);
inline const HWND HWND_MESSAGE = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-3));

// Window-data slots. The user-data slot lets a C++ object find itself from its procedure.
inline constexpr int GWLP_WNDPROC = -4;
inline constexpr int GWLP_USERDATA = -21;

// Timer periods are clamped to this range, in milliseconds.
inline constexpr UINT USER_TIMER_MINIMUM = 0x0000000A;
inline constexpr UINT USER_TIMER_MAXIMUM = 0x7FFFFFFF;

// Registers a window class. Returns a non-zero atom, or 0 with ERROR_INVALID_PARAMETER (no
// class, procedure or name) or ERROR_CLASS_ALREADY_EXISTS.
ATOM RegisterClassA(const WNDCLASSA* lpWndClass);

// Removes a class. Fails with ERROR_CLASS_DOES_NOT_EXIST, or ERROR_CLASS_HAS_WINDOWS while a
// window of the class exists.
BOOL UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance);

// Creates a window of a registered class, owned by the calling thread's MessageLoop. The
// procedure receives WM_CREATE (lParam: a CREATESTRUCTA) before this returns; the handle is
// valid during WM_CREATE. If the procedure returns -1, the window is destroyed at once (it
// receives WM_DESTROY and WM_NCDESTROY, its timers are killed, messages posted to it are
// dropped) and the result is NULL. Fails with ERROR_INVALID_THREAD_ID when the calling thread
// has no MessageLoop and ERROR_CANNOT_FIND_WND_CLASS for an unknown class.
HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                     int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                     HINSTANCE hInstance, LPVOID lpParam);

// Destroys a window of the calling thread: sends WM_DESTROY, then WM_NCDESTROY (the handle is
// still valid during both), then removes the window from the table and kills its timers. From
// then on its procedure is never called again: messages still queued for it and ticks of its
// timers are dropped. Fails with ERROR_ACCESS_DENIED on another thread's window. Calling it
// again for a window already being destroyed (from its WM_DESTROY, say) does nothing more.
BOOL DestroyWindow(HWND hWnd);

// Whether the handle names a window that exists (also during its WM_DESTROY). Any thread.
BOOL IsWindow(HWND hWnd);

// Default handling: WM_CLOSE destroys the window; every other message gives 0.
LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// Where a window lies in its parent, and whether it is shown. There is no screen: the
// rectangle is what CreateWindowExA and MoveWindow gave (bRepaint is ignored), and visibility
// is the WS_VISIBLE style, which ShowWindow sets (any SW_ value but SW_HIDE) or clears.
// Windows of the calling thread only (ERROR_ACCESS_DENIED otherwise); ShowWindow returns
// whether the window was visible before, the others FALSE on failure.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;
BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint);
BOOL GetWindowRect(HWND hWnd, LPRECT lpRect);
BOOL ShowWindow(HWND hWnd, int nCmdShow);
BOOL IsWindowVisible(HWND hWnd);

// Reads or replaces a window-data slot (GWLP_USERDATA or GWLP_WNDPROC), from any thread.
// SetWindowLongPtrA returns the previous value. Both return 0 with ERROR_INVALID_INDEX for
// another index; as on Windows a slot holding 0 also gives 0, and the last error is not
// cleared on success.
LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex);
LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);

// Posts a message to a window's queue; callable from any thread. Returns FALSE (and sets
// ERROR_INVALID_WINDOW_HANDLE) when the window does not exist; a message whose window is
// destroyed before it is delivered is dropped. Messages posted by one thread to one window
// arrive in the order posted, each once, on the window's thread. WM_QUIT posted to a window
// ends its thread's loop (wParam the exit code) instead of reaching the procedure.
BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// Calls the window's procedure at once and returns its result. Only on the window's own
// thread: elsewhere it returns 0 with ERROR_WINDOW_OF_OTHER_THREAD (no cross-thread sending).
LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// Starts or restarts (same window and identifier) a timer on a window of the calling thread.
// Every uElapse milliseconds (clamped to USER_TIMER_MINIMUM..USER_TIMER_MAXIMUM) the window
// receives WM_TIMER with wParam = nIDEvent, lParam = 0 on its loop, or lpTimerFunc is called
// instead when given. Ticks that fall due while the loop is busy are merged into one. Returns
// nIDEvent (1 for identifier 0), or 0 with ERROR_INVALID_WINDOW_HANDLE (no window; a window is
// required) or ERROR_WINDOW_OF_OTHER_THREAD.
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);

// Stops a timer. No tick of it is delivered afterwards, not even one already due and queued.
// Fails with ERROR_INVALID_PARAMETER for a timer that is not running, and as SetTimer does.
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);

// Ends the calling thread's MessageLoop::Run with nExitCode, after the work queued before it.
// Does nothing on a thread without a loop.
void PostQuitMessage(int nExitCode);

// Message box types and results.
inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_OKCANCEL = 0x00000001;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
inline constexpr UINT MB_YESNOCANCEL = 0x00000003;
inline constexpr UINT MB_YESNO = 0x00000004;
inline constexpr UINT MB_RETRYCANCEL = 0x00000005;
inline constexpr UINT MB_ICONHAND = 0x00000010;
inline constexpr UINT MB_ICONQUESTION = 0x00000020;
inline constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
inline constexpr UINT MB_ICONASTERISK = 0x00000040;
inline constexpr UINT MB_ICONERROR = MB_ICONHAND;
inline constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows a message box through the host's hook (SetMessageBoxHook, platform/ext/hosthooks.h)
// and returns the hook's answer, on the calling thread. A null text reaches the hook as "", a
// null caption as "Error" (the default title). Without a hook the text goes to standard
// error as one line and the result is 0, as for a box that could not be shown.
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

#endif  // _WIN32
