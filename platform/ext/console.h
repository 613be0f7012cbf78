// Console services for the command-line hosts beyond the published ones
// (platform/consoleapi.h): the process's standard streams. TakeStandardOutput and IsTerminal
// both targets have (on Windows: platform/win32/console.cpp); the capture is Linux's only.
#pragma once

#include <cstdio>
#include <string>

namespace talrec::platform {

// Sends what the process writes to standard output (printf, std::cout) to standard error
// from now on, and returns a stream on the original standard output, for a host whose
// standard output carries only its protocol. Null when the streams cannot be duplicated.
std::FILE* TakeStandardOutput();

// Whether a stream is a terminal (on Windows: a console).
bool IsTerminal(std::FILE* stream);

#if !defined(_WIN32)
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

#endif  // !_WIN32

}  // namespace talrec::platform
