// OutputDebugStringA: one line for the person running the program about a failure that the
// script cannot see (an input device that does not open, a file that cannot be played, a
// device lost while recording). The control's results and events do not change; this only
// makes the failure visible. On Windows the text reaches a debugger.
//
// Here it goes to the hook that the container has set (talrec host makes a host.debug
// notification of it, the command-line tools a line on standard error), and without a hook
// to standard error. Any thread may call it, the device threads too; the hook runs on the
// calling thread, so a container hands the text to its own thread itself.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/windef.h"

void WINAPI OutputDebugStringA(LPCSTR text);

// Extension for containers: the function that receives every text (a trailing newline
// removed), with the context given here; null restores standard error. Setting it waits for
// calls of the previous hook in progress, so the previous context may be freed after it. A
// hook must not call OutputDebugStringA or SetDebugOutputHook itself.
using DEBUGOUTPUTHOOK = void (*)(const char* text, void* context);
void SetDebugOutputHook(DEBUGOUTPUTHOOK hook, void* context);

// Extension for containers of several controls: whose debug output a thread writes. A
// container sets an owner of its own choosing (0: none) around each call into one control;
// the hook, which runs on the writing thread, reads it with GetThreadDebugOwner. The threads
// the platform starts for a caller carry it on: a wave device's thread, a media player's
// thread and a recording spool's threads write for the owner of the thread that opened them.
ULONGLONG SetThreadDebugOwner(ULONGLONG owner);  // returns the previous owner
ULONGLONG GetThreadDebugOwner();

#endif  // _WIN32
