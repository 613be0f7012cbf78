// talrec play FILE: plays a sound file with its elapsed and total time.
#include <cstdio>
#include <string>

#include "host/CliTakes.h"
#include "host/Commands.h"
#include "host/TerminalText.h"

namespace {

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: talrec play FILE\n"
                 "  Plays a sound file (WAV, WMA or any format the media service reads),\n"
                 "  showing the elapsed and the total time; ends at \"play-complete\".\n"
                 "  Space pauses and resumes, Enter stops.\n"
                 "  exit: 0 played, 1 playback failed, 2 wrong arguments, 3 no control,\n"
                 "        130 stopped by Ctrl-C or SIGTERM\n");
}

}  // namespace

int RunPlay(int argc, char** argv) {
    using namespace talrec::host;
    InstallInterruptHandler();
    std::string file;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return kExitOk;
        }
        if (!file.empty() || arg.empty() || arg[0] == '-') {
            std::fprintf(stderr, "talrec play: unexpected argument %s\n", arg.c_str());
            return kExitUsage;
        }
        file = arg;
    }
    if (file.empty()) {
        Usage(stderr);
        return kExitUsage;
    }
    std::string path = GrantedPath(file, "play");
    if (path.empty()) return kExitFailed;
    double total = MediaSeconds(path);
    if (total < 0) {
        std::fprintf(stderr, "talrec play: cannot read %s as sound\n", TerminalText(path).c_str());
        return kExitFailed;
    }
    std::string error;
    auto session = CliSession::Open(error);
    if (!session) {
        std::fprintf(stderr, "talrec play: %s\n", error.c_str());
        return kExitNoControl;
    }
    MeterDisplay display(stdout);
    return PlayTake(*session, path, total, display, "play").exitCode;
}
