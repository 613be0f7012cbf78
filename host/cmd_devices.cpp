// talrec devices: the capture and playback devices the wave-audio service can be pointed at.
#include <cstdio>
#include <string>

#include "host/CliSession.h"
#include "host/Commands.h"
#include "platform/ext/wavedevices.h"

namespace {

void List(const char* title, bool capture) {
    std::printf("%s:\n", title);
    for (const auto& device : talrec::platform::ListWaveDevices(capture)) {
        std::printf("  %s %-28s %s\n", device.selected ? "*" : " ", device.setting.c_str(),
                    device.description.c_str());
    }
}

}  // namespace

int RunDevices(int argc, char** argv) {
    using namespace talrec::host;
    if (argc > 0) {
        std::string arg = argv[0];
        if (arg == "--help" || arg == "-h") {
            std::printf(
                "usage: talrec devices\n"
                "  Lists the capture and playback devices; * marks the one in use, chosen by\n"
                "  TALREC_WAVE_DEVICE (alsa = ALSA's \"default\", alsa:NAME, virtual).\n"
                "  exit: 0 listed, 2 wrong arguments\n");
            return kExitOk;
        }
        std::fprintf(stderr, "talrec devices: unexpected argument %s\n", arg.c_str());
        return kExitUsage;
    }
    List("capture", true);
    List("playback", false);
    return kExitOk;
}
