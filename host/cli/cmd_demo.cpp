// talrec demo: the whole job once: registers the control when it is not registered, records
// three seconds from the default input (the virtual tone when no sound input opens), converts
// the take to WMA, plays the WMA back, and describes both files.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "convert/WavReader.h"
#include "host/Commands.h"
#include "host/cli/CliTakes.h"
#include "host/common/ControlClass.h"
#include "host/common/MediaInfo.h"
#include "platform/ext/wavedevices.h"
#include "platform/mmwave.h"
#include "platform/objbase.h"

namespace talrec::host {
namespace {

// Whether the selected device opens both ways in the recorder's format.
bool DeviceOpens() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 22050;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 22050 * 4;
    return waveInOpen(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR &&
           waveOutOpen(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

void ChooseDevice() {
    std::string device = talrec::platform::SelectedWaveDevice();
    if (device.rfind("alsa", 0) == 0) {
        if (DeviceOpens()) {
            std::printf("input: the ALSA device %s\n",
                        device == "alsa" ? "\"default\"" : device.c_str());
            return;
        }
        std::printf("input: the ALSA device does not open here; using the virtual device\n");
        setenv("TALREC_WAVE_DEVICE", "virtual", 1);
    }
    const char* source = std::getenv("TALREC_VIRTUAL_SOURCE");
    std::printf("input: the virtual device, source %s\n",
                source != nullptr ? source : "tone:440:0.5 (a 440 Hz tone)");
}

std::string Size(const std::string& path) {
    std::error_code ec;
    return std::to_string(std::filesystem::file_size(path, ec)) + " bytes";
}

std::string WavFormat(const std::string& path) {
    CWavReader reader;
    if (reader.Open(path.c_str()) != 1 || reader.formatBlock.size() < 16) return "unreadable WAV";
    const BYTE* f = reader.formatBlock.data();
    unsigned channels = f[2] | f[3] << 8;
    unsigned long rate = f[4] | f[5] << 8 | f[6] << 16 | static_cast<unsigned long>(f[7]) << 24;
    unsigned bits = f[14] | f[15] << 8;
    unsigned long bytesPerSecond = rate * channels * bits / 8;
    double seconds = bytesPerSecond ? static_cast<double>(reader.dataSize) / bytesPerSecond : 0;
    return "PCM WAV, " + std::to_string(bits) + "-bit " +
           (channels == 2 ? std::string("stereo") : std::to_string(channels) + " channels") + " " +
           std::to_string(rate) + " Hz, " + FormatClock(seconds);
}

int RunDemo(const Arguments&) {
    InstallInterruptHandler();
    NoteWaitingRecordings("demo");
    if (!ControlRegistered()) {
        std::printf("registering the control: ");
        std::fflush(stdout);
        if (RegisterInstalledControl() != 0) {
            std::fprintf(stderr, "talrec demo: the control could not be registered\n");
            return kExitNoControl;
        }
    }
    ChooseDevice();
    std::string error;
    auto session = CliSession::Open(error);
    if (!session) {
        std::fprintf(stderr, "talrec demo: %s\n", error.c_str());
        return kExitNoControl;
    }
    CallResult folderCall = session->Call("GetDataFolder", nlohmann::json::array());
    if (FAILED(folderCall.hr) || !folderCall.result.is_string()) {
        std::fprintf(stderr, "talrec demo: the control has no data folder\n");
        return kExitFailed;
    }
    std::string folder = folderCall.result.get<std::string>();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string wav = folder + "/demo.wav";
    std::string wma = folder + "/demo.wma";
    MeterDisplay display(stdout);

    std::printf("recording 3 s into %s (space pauses, Enter stops)\n", wav.c_str());
    TakeResult take = RecordTake(*session, wav, 3, display, "demo");
    if (take.exitCode != kExitOk) return take.exitCode;

    std::printf("converting to %s\n", wma.c_str());
    long converted = session->CallNumber("ConvertWavToWMA", nlohmann::json::array({wav, wma}));
    if (converted != 0) {
        std::fprintf(stderr, "talrec demo: the conversion failed (%ld)\n", converted);
        return kExitFailed;
    }
    std::fflush(stdout);
    double wmaSeconds = MediaSeconds(wma);
    std::printf("playing %s\n", wma.c_str());
    TakeResult played = PlayTake(*session, wma, wmaSeconds, display, "demo");
    if (played.exitCode != kExitOk) return played.exitCode;

    std::printf("%s\n  %s, %s\n", wav.c_str(), WavFormat(wav).c_str(), Size(wav).c_str());
    std::printf("%s\n  WMA (Windows Media Audio), %s, %s\n", wma.c_str(),
                FormatClock(wmaSeconds).c_str(), Size(wma).c_str());
    return kExitOk;
}

}  // namespace

const Command kDemoCommand = {
    "demo",
    "",
    "record 3 s, convert to WMA, play it back",
    "  Registers the control if needed, records 3 s from the default input (the\n"
    "  virtual tone when no sound input opens) into the data folder, converts it\n"
    "  to WMA, plays the WMA back and describes both files.\n"
    "  exit: 0 done, 1 a step failed, 2 wrong arguments, 3 no control\n",
    {},
    0,
    0,
    RunDemo};

}  // namespace talrec::host
