// talrec play FILE: plays a sound file with its elapsed and total time.
#include <cstdio>
#include <string>

#include "host/Commands.h"
#include "host/cli/CliTakes.h"
#include "host/common/MediaInfo.h"
#include "host/common/TerminalText.h"

namespace talrec::host {
namespace {

int RunPlay(const Arguments& arguments) {
    InstallInterruptHandler();
    std::string path = GrantedPath(arguments.Positional()[0], "play");
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

}  // namespace

const Command kPlayCommand = {
    "play",
    "FILE",
    "play a sound file with its progress",
    "  Plays a sound file (WAV, WMA or any format the media service reads),\n"
    "  showing the elapsed and the total time; ends at \"play-complete\".\n"
    "  Space pauses and resumes, Enter stops.\n"
    "  exit: 0 played, 1 playback failed, 2 wrong arguments, 3 no control,\n"
    "        130 stopped by Ctrl-C or SIGTERM\n",
    {},
    1,
    1,
    RunPlay};

}  // namespace talrec::host
