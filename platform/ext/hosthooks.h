// The hooks through which a container shows its user what the control and the platform have to
// say beyond results and events: the control's message boxes (MessageBoxA) and the platform's
// debug output (OutputDebugStringA). Without a hook both go to standard error.
//
// Both targets have them. On Windows (platform/win32/hosthooks.cpp) the message box is the
// system's dialog: the hook sees each box that the thread which set it shows (a thread-local
// CBT hook; that is the container's user-interface thread), its texts in UTF-8, and answers it
// for the user; the debug output is the system's, which only a debugger reads: the hook is
// kept but never called, and the owner is kept per thread.
#pragma once

#include <functional>

#include "platform/windef.h"

// The host's message box. Runs on the thread that called MessageBoxA, which waits for it; the
// strings are valid only during the call. Returns one of the ID* results (platform/winuser.h).
using MessageBoxHook =
    std::function<int(HWND hWnd, const char* text, const char* caption, UINT type)>;

// Installs the process's message-box hook (an empty function removes it) and returns the one
// it replaces. Any thread; a box already showing keeps the hook it started with.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// The debug output's hook (OutputDebugStringA, platform/debugapi.h): the function that
// receives every text (a trailing newline removed), with the context given here; null
// restores standard error. Setting it waits for calls of the previous hook in progress, so the
// previous context may be freed after it. A hook must not call OutputDebugStringA or
// SetDebugOutputHook itself.
using DEBUGOUTPUTHOOK = void (*)(const char* text, void* context);
void SetDebugOutputHook(DEBUGOUTPUTHOOK hook, void* context);

// For containers of several controls: whose debug output a thread writes. A container sets an
// owner of its own choosing (0: none) around each call into one control; the hook, which runs
// on the writing thread, reads it with GetThreadDebugOwner. The threads the platform starts
// for a caller carry it on: a wave device's thread, a media player's thread and a recording
// spool's threads write for the owner of the thread that opened them.
ULONGLONG SetThreadDebugOwner(ULONGLONG owner);  // returns the previous owner
ULONGLONG GetThreadDebugOwner();
