// Built instead of the ALSA backend when the build leaves ALSA out: the backend is named but
// absent, so every open fails as with no driver.
#include "platform/winmm/wave_backend.h"

namespace talrec::wave {

MMRESULT OpenAlsa(const std::string&, Direction, const WAVEFORMATEX&, std::unique_ptr<Endpoint>*) {
    return MMSYSERR_NODRIVER;
}

}  // namespace talrec::wave
