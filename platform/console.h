// Console services for the command-line hosts: the process's standard streams and its
// interrupt signals.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include <cstdio>
#include <string>

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

namespace talrec::platform {

// Sends what the process writes to standard output (printf, std::cout) to standard error
// from now on, and returns a stream on the original standard output, for a host whose
// standard output carries only its protocol. Null when the streams cannot be duplicated.
std::FILE* TakeStandardOutput();

// Keeps what the process writes to standard output from now on (printf, std::cout) for the
// host to take with TakeCapturedOutput, and returns a stream on the original standard output,
// for a host that hands that text on itself (the bridge gives a conversion's diagnostic lines
// to the page whose call wrote them). Null when the streams cannot be set up. Writing never
// blocks, however long the host leaves the text untaken.
std::FILE* CaptureStandardOutput();
// What was written to standard output since the last take (standard output flushed first),
// and empties the capture; empty without a capture. On the thread that writes to standard
// output: what another thread writes meanwhile may be lost.
std::string TakeCapturedOutput();

// Whether a stream is a terminal.
bool IsTerminal(std::FILE* stream);

}  // namespace talrec::platform

#endif  // _WIN32
