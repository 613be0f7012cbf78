// The wave-audio service beyond the published calls: the sound devices it can be pointed at
// (TALREC_WAVE_DEVICE), for the command-line tools to list (only the selected device is
// opened, briefly, to see that it does), and an open device's recovered overruns and underruns.
#pragma once

#ifdef _WIN32
#error "a Linux extension with no counterpart in the Windows SDK"
#else
#include <string>
#include <vector>

#include "platform/mmwave.h"

// Overruns (capture) or underruns (playback) the device has recovered from since it was
// opened; the virtual device has none. MMSYSERR_INVALHANDLE / MMSYSERR_INVALPARAM as usual.
MMRESULT waveInGetXruns(HWAVEIN hwi, DWORD* pdwXruns);
MMRESULT waveOutGetXruns(HWAVEOUT hwo, DWORD* pdwXruns);

namespace talrec::platform {

struct WaveDeviceEntry {
    std::string setting;  // the TALREC_WAVE_DEVICE value that selects it: "alsa:NAME", "virtual"
    std::string description;  // one line
    bool selected = false;    // what the wave mapper opens now, and it opens
};

// ALSA's PCM devices of one direction (from the sound system's device hints, when the build
// has ALSA), then the virtual device. Any thread.
std::vector<WaveDeviceEntry> ListWaveDevices(bool capture);

// The TALREC_WAVE_DEVICE value in effect ("alsa" when unset).
std::string SelectedWaveDevice();

}  // namespace talrec::platform

#endif  // _WIN32
