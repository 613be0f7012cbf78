// Format probes: while a WaveProbe lives on a thread, the wave opens and queries that fail on
// that thread say nothing on the debug output. For code that searches for a format the device
// takes (the media player's output), where a refusal is an answer, not a failure.
#pragma once

namespace talrec::wave {

class WaveProbe {
  public:
    WaveProbe() { ++depth_; }
    ~WaveProbe() { --depth_; }
    WaveProbe(const WaveProbe&) = delete;
    WaveProbe& operator=(const WaveProbe&) = delete;

    static bool Active() { return depth_ > 0; }

  private:
    static inline thread_local int depth_ = 0;
};

}  // namespace talrec::wave
