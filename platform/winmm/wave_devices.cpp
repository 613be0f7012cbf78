// The wave backends of this build, and the one reading of TALREC_WAVE_DEVICE that chooses
// among them: the open, the capabilities and the device list all go through SelectDevice.
#include <cstdlib>
#include <string_view>

#include "platform/ext/wavedevices.h"
#include "platform/winmm/wave_backend.h"

namespace talrec::wave {
namespace {

// A build without ALSA has no "alsa" entry: the setting then names nothing, as any unknown one.
constexpr const Backend* kBackends[] = {
#if TALREC_HAVE_ALSA
    &kAlsaBackend,
#endif
    &kVirtualBackend,
};

constexpr const char* kDefaultSetting = "alsa";

// The setting that the list gives the selected device: "alsa" is "alsa:default".
std::string Canonical(const Selection& s) {
    if (!s.backend) return s.setting;
    return s.backend->defaultDevice ? std::string(s.backend->name) + ":" + s.device
                                    : std::string(s.backend->name);
}

}  // namespace

Selection SelectDevice() {
    const char* env = std::getenv("TALREC_WAVE_DEVICE");
    Selection s;
    s.setting = env && *env ? env : kDefaultSetting;
    const std::string_view v = s.setting;
    const auto colon = v.find(':');
    const std::string_view name = v.substr(0, colon);
    for (const Backend* b : kBackends) {
        if (name != b->name) continue;
        if (colon == std::string_view::npos) {
            s.backend = b;
            if (b->defaultDevice) s.device = b->defaultDevice;
        } else if (b->defaultDevice && colon + 1 < v.size()) {
            s.backend = b;
            s.device = v.substr(colon + 1);
        }
        break;
    }
    return s;
}

std::string KnownSettings() {
    std::string out;
    for (const Backend* b : kBackends) {
        if (!out.empty()) out += ", ";
        out += b->name;
        if (b->defaultDevice) out += std::string(", ") + b->name + ":NAME";
    }
    return out;
}

}  // namespace talrec::wave

namespace talrec::platform {

std::string SelectedWaveDevice() {
    return wave::SelectDevice().setting;
}

std::vector<WaveDeviceEntry> ListWaveDevices(bool capture) {
    using wave::Direction;
    std::vector<WaveDeviceEntry> out;
    for (const wave::Backend* b : wave::kBackends)
        b->list(capture ? Direction::Capture : Direction::Playback, &out);
    const wave::Selection selected = wave::SelectDevice();
    const std::string setting = wave::Canonical(selected);
    // The selected device is marked only when it opens for the recorder's format.
    std::string why;
    bool opens = false;
    if (selected.backend) {
        WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 22050, 22050 * 4, 4, 16, 0};
        opens = selected.backend->open(selected.device,
                                       capture ? Direction::Capture : Direction::Playback, format,
                                       nullptr, &why) == MMSYSERR_NOERROR;
        if (!opens && why.empty()) why = "refuses 16-bit stereo at 22050 Hz";
    }
    bool listed = false;
    for (WaveDeviceEntry& entry : out) {
        if (!selected.backend || entry.setting != setting) continue;
        listed = true;
        entry.selected = opens;
        if (!opens) entry.description += " (selected, but does not open: " + why + ")";
    }
    // A device that the backend's list leaves out (ALSA's own "default" among them) still
    // opens by name; a setting that names nothing is shown, unmarked, for what it is.
    if (!listed) {
        out.insert(
            out.begin(),
            selected.backend
                ? WaveDeviceEntry{selected.setting,
                                  opens
                                      ? "named by TALREC_WAVE_DEVICE"
                                      : "named by TALREC_WAVE_DEVICE, does not open (" + why + ")",
                                  opens}
                : WaveDeviceEntry{selected.setting,
                                  "names no device (known: " + wave::KnownSettings() + ")", false});
    }
    return out;
}

}  // namespace talrec::platform
