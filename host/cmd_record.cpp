// talrec record FILE [--seconds N]: records from the sound input into a WAV file with a live
// level meter. A take that holds no sound at all (the input did not open, or gave nothing
// before the stop) is written as it is but counts as a failure: exit 1.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/CliTakes.h"
#include "host/Commands.h"
#include "host/TerminalText.h"
#include "platform/wavheader.h"

namespace {

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: talrec record FILE [--seconds N]\n"
                 "  Records the sound input into the WAV file FILE (16-bit stereo 22050 Hz),\n"
                 "  showing the input level and the elapsed time. Space pauses and resumes,\n"
                 "  Enter stops; Ctrl-C and SIGTERM stop too, and what was recorded is written.\n"
                 "  Without --seconds it records until stopped.\n"
                 "  exit: 0 written, 1 recording failed or nothing recorded, 2 wrong arguments,\n"
                 "  3 no control\n");
}

}  // namespace

int RunRecord(int argc, char** argv) {
    using namespace talrec::host;
    InstallInterruptHandler();
    std::string file;
    double seconds = 0;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return kExitOk;
        }
        if (arg == "--seconds" && i + 1 < argc) {
            char* end = nullptr;
            seconds = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(seconds > 0)) {
                std::fprintf(stderr, "talrec record: --seconds takes a positive number\n");
                return kExitUsage;
            }
        } else if (file.empty() && !arg.empty() && arg[0] != '-') {
            file = arg;
        } else {
            std::fprintf(stderr, "talrec record: unexpected argument %s\n", arg.c_str());
            return kExitUsage;
        }
    }
    if (file.empty()) {
        Usage(stderr);
        return kExitUsage;
    }
    NoteWaitingRecordings("record");
    std::string path = GrantedPath(file, "record");
    if (path.empty()) return kExitFailed;
    std::string error;
    auto session = CliSession::Open(error);
    if (!session) {
        std::fprintf(stderr, "talrec record: %s\n", error.c_str());
        return kExitNoControl;
    }
    MeterDisplay display(stdout);
    TakeResult take = RecordTake(*session, path, seconds, display, "record");
    if (take.exitCode != kExitOk) return take.exitCode;
    std::error_code ec;
    const std::uintmax_t bytes = std::filesystem::file_size(path, ec);
    if (ec || bytes <= kWavHeaderBytes) {
        // The control reports no failure of the input to a script; the platform's debug output
        // (shown above) says what happened, and the file holds the header alone.
        std::fprintf(stderr, "talrec record: nothing was recorded into %s%s\n",
                     TerminalText(path).c_str(),
                     session->DebugLines() > 0 ? " (the input failed, see above)" : "");
        return kExitFailed;
    }
    std::printf("wrote %s: %s recorded, %ju bytes%s\n", TerminalText(path).c_str(),
                FormatClock(take.seconds).c_str(), bytes,
                take.interrupted ? " (stopped by a signal)" : "");
    return kExitOk;
}
