// OutputDebugStringA: one line for the person running the program about a failure that the
// script cannot see (an input device that does not open, a file that cannot be played, a
// device lost while recording). The control's results and events do not change; this only
// makes the failure visible. On Windows the text reaches a debugger.
//
// Here it goes to the hook that the container has set (SetDebugOutputHook in
// platform/ext/hosthooks.h; talrec host makes a host.debug notification of it, the
// command-line tools a line on standard error), and without a hook to standard error. Any
// thread may call it, the device threads too; the hook runs on the calling thread, so a
// container hands the text to its own thread itself.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/windef.h"

void WINAPI OutputDebugStringA(LPCSTR text);

#endif  // _WIN32
