#include <cstdlib>
#include <cstring>

#include "platform/wavedevices.h"

#if TALREC_DEVICE_HINTS
#include <alsa/asoundlib.h>
#endif

namespace talrec::platform {
namespace {

// A hint's description holds line breaks between its parts; one line reads better.
std::string OneLine(const char* text) {
    std::string out = text != nullptr ? text : "";
    for (char& c : out) {
        if (c == '\n') c = ' ';
    }
    return out;
}

// "alsa" and "alsa:default" select the same PCM.
std::string Normalised(const std::string& setting) {
    return setting == "alsa" ? "alsa:default" : setting;
}

}  // namespace

std::string SelectedWaveDevice() {
    const char* value = std::getenv("TALREC_WAVE_DEVICE");
    return value != nullptr && *value != '\0' ? value : "alsa";
}

std::vector<WaveDeviceEntry> ListWaveDevices(bool capture) {
    std::vector<WaveDeviceEntry> out;
    std::string selected = Normalised(SelectedWaveDevice());
#if TALREC_DEVICE_HINTS
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) == 0) {
        for (void** hint = hints; *hint != nullptr; ++hint) {
            char* name = snd_device_name_get_hint(*hint, "NAME");
            char* desc = snd_device_name_get_hint(*hint, "DESC");
            char* ioid = snd_device_name_get_hint(*hint, "IOID");  // null: both directions
            bool fits = ioid == nullptr || std::strcmp(ioid, capture ? "Input" : "Output") == 0;
            if (name != nullptr && fits && std::strcmp(name, "null") != 0) {
                WaveDeviceEntry entry{std::string("alsa:") + name, OneLine(desc), false};
                entry.selected = entry.setting == selected;
                out.push_back(std::move(entry));
            }
            std::free(name);
            std::free(desc);
            std::free(ioid);
        }
        snd_device_name_free_hint(hints);
    }
#else
    (void)capture;
#endif
    out.push_back({"virtual", "the virtual device (TALREC_VIRTUAL_SOURCE, TALREC_VIRTUAL_SINK)",
                   selected == "virtual"});
    bool listed = false;
    for (const WaveDeviceEntry& entry : out) listed = listed || entry.selected;
    // A PCM that the hints leave out (ALSA's own "default" among them) still opens by name.
    if (!listed) out.insert(out.begin(), {selected, "named by TALREC_WAVE_DEVICE", true});
    return out;
}

}  // namespace talrec::platform
