// Console services for the command-line hosts beyond the published ones
// (platform/consoleapi.h): the process's standard streams.
#pragma once

#ifdef _WIN32
#error "a Linux extension with no counterpart in the Windows SDK"
#else
#include <cstdio>

namespace talrec::platform {

// Sends what the process writes to standard output (printf, std::cout) to standard error
// from now on, and returns a stream on the original standard output, for a host whose
// standard output carries only its protocol. Null when the streams cannot be duplicated.
std::FILE* TakeStandardOutput();

// Whether a stream is a terminal.
bool IsTerminal(std::FILE* stream);

}  // namespace talrec::platform

#endif  // _WIN32
