// The private contract between the wave-audio front (wave_api.cpp, wave_stream.cpp) and its
// backends (wave_alsa.cpp, wave_virtual.cpp).
//
// The front has already checked the handle, the headers and the format record (a valid PCM
// record: tag, 8/16/24/32 bits, block align and byte rate consistent). A backend must still
// check that its device grants exactly that format.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ext/wavedevices.h"
#include "platform/mmwave.h"

namespace talrec::wave {

enum class Direction { Capture, Playback };

// One open device, made by Backend::open on the caller's thread and destroyed by the front
// after the stream's device thread has ended. Every operation runs on that device thread but
// Wake, Prime, Xruns and Asleep, which any thread may call.
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
    // Any thread, for tests: the device thread is blocked in Wait or WaitHeard, and nothing
    // is due that would end the wait before its deadline, nor a Wake. Only a device on a clock
    // of its own can tell; the others say false.
    virtual bool Asleep() { return false; }
};

// One backend: its name in TALREC_WAVE_DEVICE, how its devices open and which it lists. The
// table of the backends in this build, and the one parser of the setting, are in
// wave_devices.cpp.
struct Backend {
    using OpenFunction = MMRESULT (*)(const std::string& device, Direction dir,
                                      const WAVEFORMATEX& fmt, std::unique_ptr<Endpoint>* out,
                                      std::string* why);

    const char* name;  // "alsa", "virtual": the setting alone, or before "NAME" as "alsa:NAME"
    // The device that the name alone selects ("default"), or null: the backend takes no device
    // name, and "NAME:..." selects nothing.
    const char* defaultDevice;
    // Caller's thread (waveInOpen/waveOutOpen). Opens the device (out non-null) or only checks
    // that it opens for the format (out null: nothing stays open). WAVERR_BADFORMAT when the
    // device refuses the format; for any other failure *why says what the backend was told
    // (the sound system's error text), for the debug output.
    OpenFunction open;
    // Any thread: appends the devices of one direction that it can name, opening nothing.
    void (*list)(Direction dir, std::vector<platform::WaveDeviceEntry>* out);
    // The product name the capability records give for the device.
    std::string (*productName)(const std::string& device);
};

extern const Backend kAlsaBackend;  // only in a build with ALSA
extern const Backend kVirtualBackend;

// What TALREC_WAVE_DEVICE selects, read anew at every open.
struct Selection {
    std::string setting;               // the value in effect ("alsa" when unset)
    const Backend* backend = nullptr;  // null: the value names no backend of this build
    std::string device;                // the backend's device ("default", a PCM name)
};
Selection SelectDevice();

// The values this build takes, for messages: "alsa, alsa:NAME, virtual".
std::string KnownSettings();

}  // namespace talrec::wave
