// The private contract between the wave-audio front (wave_api.cpp, wave_stream.cpp) and its
// backends (wave_alsa.cpp, wave_virtual.cpp).
//
// The front has already checked the handle, the headers and the format record (a valid PCM
// record: tag, 8/16/24/32 bits, block align and byte rate consistent). A backend must still
// check that its device grants exactly that format.
#pragma once

#include <memory>
#include <string>

#include "platform/mmwave.h"

namespace talrec::wave {

enum class Direction { Capture, Playback };

// One open device. Every operation but Wake and Xruns runs on the stream's device thread.
class Endpoint {
  public:
    virtual ~Endpoint() = default;

    // Starts the device running (capture begins to hear). False: the device is gone.
    virtual bool Start() = 0;
    // Stops at once. Playback frames not yet heard are dropped; the stream hands them to the
    // device again when it starts.
    virtual void Stop() = 0;
    // Capture: copies up to `frames` frames that are ready into data. Playback: hands up to
    // `frames` frames to the device. Returns the frames moved, 0 when none can move now, or -1
    // when the device is gone.
    virtual long Transfer(BYTE* data, DWORD frames) = 0;
    // Playback: frames handed to the device and not yet heard.
    virtual DWORD Pending() = 0;
    // Blocks until about `frames` more frames can move, until Wake, or for a bounded time.
    // Returns at once when Wake came since the last wait.
    virtual void Wait(DWORD frames) = 0;
    // Playback with nothing left to hand over: blocks until about `frames` more of the
    // pending frames have been heard, until Wake, or for a bounded time.
    virtual void WaitHeard(DWORD frames) = 0;
    // Any thread.
    virtual void Wake() = 0;
    // Any thread, playback: buffers were written to the idle device, so the next Start
    // counts from now rather than from when the device thread gets to it.
    virtual void Prime() {}
    // Any thread: overruns and underruns recovered from.
    virtual DWORD Xruns() const = 0;
};

// The backend that TALREC_WAVE_DEVICE names, read at every open.
struct Setting {
    enum class Kind { Alsa, Virtual, Invalid } kind = Kind::Invalid;
    std::string pcm;  // ALSA PCM name
};
Setting ReadSetting();

// Opens (out non-null) or only checks (out null: nothing stays open) a device for the format.
MMRESULT OpenVirtual(Direction dir, const WAVEFORMATEX& fmt, std::unique_ptr<Endpoint>* out);
MMRESULT OpenAlsa(const std::string& pcm, Direction dir, const WAVEFORMATEX& fmt,
                  std::unique_ptr<Endpoint>* out);

}  // namespace talrec::wave
