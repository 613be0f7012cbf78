// Window services: windows as handles in a table, a window procedure per window, posted
// messages, timers, and the message loop of the host's user-interface thread.
// (Declared here with the published names; the window-services implementation extends it.)
#pragma once

#include "platform/windef.h"

inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;

// Posts a message to a window's queue; callable from any thread. Returns FALSE (and sets
// ERROR_INVALID_WINDOW_HANDLE) when the window does not exist; a message whose window is
// destroyed before it is delivered is dropped.
BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
