// talrec devices: the capture and playback devices the wave-audio service can be pointed at.
#include <cstdio>
#include <string>

#include "host/Commands.h"
#include "host/cli/CliSession.h"
#include "platform/ext/wavedevices.h"

namespace talrec::host {
namespace {

void List(const char* title, bool capture) {
    std::printf("%s:\n", title);
    for (const auto& device : talrec::platform::ListWaveDevices(capture)) {
        std::printf("  %s %-28s %s\n", device.selected ? "*" : " ", device.setting.c_str(),
                    device.description.c_str());
    }
}

int RunDevices(const Arguments&) {
    List("capture", true);
    List("playback", false);
    return kExitOk;
}

}  // namespace

const Command kDevicesCommand = {
    "devices",
    "",
    "list the capture and playback devices",
    "  Lists the capture and playback devices; * marks the one in use, chosen by\n"
    "  TALREC_WAVE_DEVICE (alsa = ALSA's \"default\", alsa:NAME, virtual).\n"
    "  exit: 0 listed, 2 wrong arguments\n",
    {},
    0,
    0,
    RunDevices};

}  // namespace talrec::host
