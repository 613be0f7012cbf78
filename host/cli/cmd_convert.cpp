// talrec convert SOURCE DEST: converts one WAV file to WMA, as the control's conversion does.
#include <cstdio>
#include <string>

#include "convert/WmaConverter.h"
#include "host/Commands.h"
#include "host/common/StatusText.h"
#include "platform/ext/console.h"

namespace talrec::host {
namespace {

constexpr const char* kHelp =
    "\n"
    "Converts a WAV file (integer PCM of 8 to 32 bits or float, any rate and channel count) to\n"
    "a WMA file (WMA 2 in ASF; 128 kbit/s stereo, 64 kbit/s mono) with the audio-writer\n"
    "component wmaudsdk.so from the system directory (TALREC_SYSTEM_DIR, else the folder of\n"
    "the libraries installed with this program). An existing DEST is overwritten; after a\n"
    "failure whatever was written stays.\n"
    "\n"
    "The conversion's diagnostic lines go to standard output; progress (on a terminal) and the\n"
    "final status go to standard error. Exit status: 0 converted, 1 failed, 2 usage.\n";

struct Progress {
    int lastPercent = -1;
    bool shown = false;
};

// Runs on the converting thread (this one) after each block.
void ShowProgress(DWORD done, DWORD total, void* context) {
    auto* progress = static_cast<Progress*>(context);
    const int percent = total == 0 ? 100 : static_cast<int>(100.0 * done / total);
    if (percent == progress->lastPercent) return;
    progress->lastPercent = percent;
    progress->shown = true;
    std::fprintf(stderr, "\rconverting: %3d%%", percent);
    std::fflush(stderr);
}

int RunConvert(const Arguments& arguments) {
    const std::string& source = arguments.Positional()[0];
    const std::string& destination = arguments.Positional()[1];
    Progress progress;
    if (talrec::platform::IsTerminal(stderr)) SetConvertProgressHook(ShowProgress, &progress);
    const HRESULT hr = ConvertWavFile(source.c_str(), destination.c_str());
    SetConvertProgressHook(nullptr, nullptr);
    if (progress.shown) std::fputc('\n', stderr);
    if (FAILED(hr)) {
        std::fprintf(stderr, "talrec convert: failed with status 0x%08x (%s)\n",
                     static_cast<unsigned>(hr), StatusText(hr).c_str());
        return 1;
    }
    return 0;
}

}  // namespace

const Command kConvertCommand = {
    "convert", "SOURCE.wav DEST.wma", "convert a WAV file to WMA", kHelp, {}, 2, 2, RunConvert};

}  // namespace talrec::host
