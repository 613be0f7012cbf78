// Console services for the command-line hosts beyond the published ones
// (platform/consoleapi.h): the process's standard streams. Both targets have them (on Windows:
// platform/win32/console.cpp), where the capture keeps nothing: what is written to standard
// output goes to standard error instead.
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

}  // namespace talrec::platform
