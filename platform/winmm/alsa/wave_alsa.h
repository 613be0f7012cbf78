// The ALSA wave device's failure point for tests. The backend itself is reached through the
// backend table (platform/winmm/wave_backend.h).
#pragma once

namespace talrec::wave {

// While on, every open ALSA PCM behaves as one that the system has suspended and that never
// resumes: reads and writes answer -ESTRPIPE and snd_pcm_resume -EAGAIN (preparing and
// starting still reach the PCM). Any thread.
void SimulateAlsaSuspend(bool on);
// How often a PCM was refused a resume since the simulation was last turned on.
unsigned SimulatedResumeRefusals();

}  // namespace talrec::wave
