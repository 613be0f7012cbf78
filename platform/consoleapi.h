// The console's control handler with its Win32 names: Ctrl-C and the requests to end the
// process, as the command-line hosts hear them.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/windef.h"

// Control events, as SetConsoleCtrlHandler reports them: Ctrl-C (SIGINT), and the close of
// the console or a request to end (SIGTERM, SIGHUP).
inline constexpr DWORD CTRL_C_EVENT = 0;
inline constexpr DWORD CTRL_BREAK_EVENT = 1;
inline constexpr DWORD CTRL_CLOSE_EVENT = 2;

// Called on a thread of the platform's own (never inside a signal handler), once per signal.
// TRUE: handled; FALSE: the next handler, and at the last the default action (the process
// ends).
using PHANDLER_ROUTINE = BOOL (*)(DWORD ctrlType);

// Adds (add TRUE) or removes a handler; handlers run last added first.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);

#endif  // _WIN32
