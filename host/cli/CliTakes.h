// The recording and playback loops the command-line tools share: a take recorded with the
// level meter and elapsed time, a file played with its progress. Keys: space pauses and
// resumes, Enter stops; Ctrl-C and SIGTERM stop too.
#pragma once

#include <string>

#include "host/cli/CliMeter.h"
#include "host/cli/CliSession.h"

namespace talrec::host {

struct TakeResult {
    int exitCode = kExitOk;
    double seconds = 0;  // recorded or played, pauses left out
    bool interrupted = false;
};

// Records into `path` until `seconds` have been recorded (<= 0: until stopped). The file is
// written however the recording stops.
TakeResult RecordTake(CliSession& session, const std::string& path, double seconds,
                      MeterDisplay& display, const char* command);

// Plays `path` to its end (or until stopped); `totalSeconds` < 0 when unknown.
TakeResult PlayTake(CliSession& session, const std::string& path, double totalSeconds,
                    MeterDisplay& display, const char* command);

// The absolute path, with its folder granted to the control; "" with a message when the
// folder does not exist.
std::string GrantedPath(const std::string& path, const char* command);

}  // namespace talrec::host
