// One open wave device: its queue of headers, its device thread and the callback delivery.
// The same for every backend; the backend's Endpoint moves the frames.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/winmm/device_commands.h"
#include "platform/winmm/wave_backend.h"

namespace talrec::wave {

// The CALLBACK_FUNCTION callbacks of the two directions (platform/mmwave.h).
using InputCallback = void (*)(HWAVEIN hwi, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                               DWORD_PTR dwParam2);
using OutputCallback = void (*)(HWAVEOUT hwo, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                DWORD_PTR dwParam2);

// The callback as the front received it (one of the two, by direction), with the public handle.
struct Callback {
    InputCallback in = nullptr;
    OutputCallback out = nullptr;
    void* handle = nullptr;
    DWORD_PTR instance = 0;
};

class Stream {
  public:
    // `device` is the TALREC_WAVE_DEVICE setting that selected the device, for the debug output.
    Stream(Direction dir, const WAVEFORMATEX& fmt, std::unique_ptr<Endpoint> ep, Callback cb,
           std::string device);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    Direction direction() const { return dir_; }
    const WAVEFORMATEX& format() const { return fmt_; }

    // Starts the device thread, which delivers the open message first.
    void Launch();
    // Any thread, the callback's too; the header is prepared and not queued. A capture buffer
    // must hold a frame (else MMSYSERR_INVALPARAM).
    MMRESULT Add(WAVEHDR* h);
    MMRESULT Start();    // capture
    MMRESULT Stop();     // capture: hands back the buffer being filled, if it holds data
    MMRESULT Pause();    // playback
    MMRESULT Restart();  // playback
    MMRESULT Reset();    // hands back every queued buffer; returns after their callbacks
    MMRESULT Position(DWORD* frames);
    // Fails with WAVERR_STILLPLAYING while buffers are queued, MMSYSERR_HANDLEBUSY on the
    // device thread; else delivers the close message and ends the device thread.
    MMRESULT Close();
    bool OnDeviceThread() const { return std::this_thread::get_id() == threadId_; }
    DWORD Xruns() const { return endpoint_->Xruns(); }
    // Any thread, for tests: the device thread sleeps and nothing is due to wake it (see
    // WaitUntilDevicesIdle).
    bool Settled();

  private:
    enum class Cmd { Start, Stop, Pause, Restart, Reset, Position };
    struct Reply {
        MMRESULT result = MMSYSERR_NOERROR;
        DWORD position = 0;  // Cmd::Position
    };
    struct Queued {
        WAVEHDR* h;
        std::uint64_t begin;  // playback: frame range of the header in the stream
        std::uint64_t end;
    };

    MMRESULT Command(Cmd c, DWORD* position = nullptr);
    MMRESULT Execute(std::unique_lock<std::mutex>& l, Cmd c, DWORD* position);
    void Run();
    void StepCapture(std::unique_lock<std::mutex>& l);
    void StepPlayback(std::unique_lock<std::mutex>& l);
    void DrainCapture(std::unique_lock<std::mutex>& l);
    long FillFront(std::unique_lock<std::mutex>& l);
    void CompleteHeard(std::unique_lock<std::mutex>& l);
    void CatchUpPlayback(std::unique_lock<std::mutex>& l);
    long WriteUnwritten(std::unique_lock<std::mutex>& l, DWORD& offered);
    void HandBack(std::unique_lock<std::mutex>& l);
    void HandBackAll(std::unique_lock<std::mutex>& l);
    void Lose(std::unique_lock<std::mutex>& l);
    void Deliver(std::unique_lock<std::mutex>* l, UINT msg, WAVEHDR* h);
    bool HasWork() const;
    // Device thread, mu_ held: runs the endpoint's wait with mu_ released.
    template <class Wait>
    void WaitOnDevice(std::unique_lock<std::mutex>& l, Wait wait) {
        waitingOnDevice_ = true;
        l.unlock();
        wait();
        l.lock();
        waitingOnDevice_ = false;
    }

    // Fixed at construction.
    const Direction dir_;
    const WAVEFORMATEX fmt_;
    const DWORD align_;
    const Callback callback_;
    const std::string device_;

    // Set once by Launch, before the device thread runs (it waits for mu_, which Launch holds),
    // and read by any thread after that.
    std::thread::id threadId_;
    std::thread thread_;

    // Used on the device thread only, but for Wake, Prime, Xruns and Asleep (any thread).
    const std::unique_ptr<Endpoint> endpoint_;

    // Guarded by mu_: written by callers (queue, command) and the device thread.
    std::mutex mu_;
    std::condition_variable deviceWake_;  // device thread: a command or work arrived
    winmm::DeviceCommands<Cmd, Reply> commands_;
    std::deque<Queued> queue_;
    bool running_ = false;          // capture started / playback not paused
    bool endpointStarted_ = false;  // the endpoint runs (playback: only while buffers are queued)
    bool lost_ = false;
    bool closing_ = false;
    bool idle_ = false;               // the device thread sleeps with nothing to do
    bool waitingOnDevice_ = false;    // the device thread waits in the endpoint
    DWORD recorded_ = 0;              // capture: bytes in the header at the queue's front
    std::uint64_t position_ = 0;      // capture: frames captured since open or reset
    std::uint64_t written_ = 0;       // playback: frames handed to the device
    std::uint64_t heard_ = 0;         // playback: frames heard
    std::uint64_t queuedEnd_ = 0;     // playback: end of the last queued header's range
    std::uint64_t heardAtReset_ = 0;  // playback: heard_ at the last reset
    std::uint64_t delivered_ = 0;     // frames captured into buffers, or heard, since open

    // Device thread only: where capture goes while no buffer is queued.
    std::vector<BYTE> scratch_;
};

}  // namespace talrec::wave
