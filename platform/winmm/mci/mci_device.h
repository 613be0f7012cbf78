// One open "MPEGVideo" device: a decoder and the wave output it plays through, driven by a
// thread of the device's own.
//
// Threads:
// - Callers (any thread) send commands; each command is carried out on the device thread and
//   the caller waits for its answer, so commands to one device are serialised.
// - The device thread owns the decoder, the wave output and its buffers: it decodes, writes
//   buffers, pauses, restarts, resets and closes the output.
// - The wave output's callback thread only hands finished buffers back to the device thread.
// Mode and length are answered without a round trip to the device thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/mci.h"
#include "platform/mmwave.h"
#include "platform/winmm/device_commands.h"
#include "platform/winmm/mci/mci_decoder.h"

namespace talrec::mci {

class MciDevice {
  public:
    // Starts the device thread. The decoder's output format must already be set.
    explicit MciDevice(std::unique_ptr<MediaDecoder> decoder);
    ~MciDevice();  // closes the device if Close was not called
    MciDevice(const MciDevice&) = delete;
    MciDevice& operator=(const MciDevice&) = delete;

    // Positions (from, to) are in milliseconds; std::nullopt where the flag is not given.
    MCIERROR Play(std::optional<DWORD> from, std::optional<DWORD> to);
    MCIERROR Pause();
    MCIERROR Resume();
    MCIERROR Stop();
    MCIERROR SeekToStart();
    MCIERROR SeekToEnd();
    MCIERROR SeekTo(DWORD ms);

    // Blocks while the device plays (MCI_WAIT with MCI_PLAY).
    void WaitWhilePlaying();

    DWORD Mode() const { return mode_.load(); }
    DWORD LengthMs() const { return lengthMs_; }
    MCIERROR PositionMs(DWORD& ms);

    // Stops playing, closes the wave output and ends the device thread. Idempotent.
    void Close();

  private:
    enum class Op { Play, Pause, Resume, Stop, SeekStart, SeekEnd, SeekTo, Position, Quit };
    struct Command {
        Op op;
        std::optional<DWORD> from;
        std::optional<DWORD> to;
    };
    static constexpr int kBuffers = 4;

    MCIERROR Send(const Command& command, DWORD* answer = nullptr);

    // Device thread.
    void Run();
    MCIERROR Execute(const Command& command, DWORD& answer);
    MCIERROR StartPlaying(const Command& command);
    MCIERROR OpenOutput();
    void CloseOutput(bool keepPlayedPosition);
    void Reclaim(const std::vector<int>& returned);
    void FeedOne();
    bool Exhausted() const;
    bool WantsToFeed() const;
    bool SkipTo(std::uint64_t frame);
    std::uint64_t PlayedFrames();
    std::uint64_t FramesAt(DWORD ms) const;
    DWORD MsAt(std::uint64_t frame) const;
    void SetMode(DWORD mode);

    // Wave output's callback thread.
    static void WaveCallback(HWAVEOUT hwo, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                             DWORD_PTR param2);

    // Set at construction, read by any thread.
    const DWORD lengthMs_;
    const PcmFormat format_;
    const std::size_t bufferBytes_;

    struct Answer {
        MCIERROR rc = 0;
        DWORD value = 0;  // Op::Position: the position in milliseconds
    };

    // Guarded by mutex_: the command slot, buffers handed back, whether Close has begun.
    std::mutex mutex_;
    std::condition_variable wake_;     // device thread: a command, a buffer back
    std::condition_variable changed_;  // WaitWhilePlaying: a mode change
    winmm::DeviceCommands<Command, Answer> commands_;
    std::vector<int> returned_;
    bool closed_ = false;
    std::atomic<DWORD> mode_{MCI_MODE_STOP};  // written under mutex_, read by anyone

    // Device thread only (and the constructor before it starts).
    std::unique_ptr<MediaDecoder> decoder_;
    HWAVEOUT wave_ = nullptr;
    std::array<WAVEHDR, kBuffers> headers_{};
    std::array<std::vector<std::uint8_t>, kBuffers> buffers_;
    std::vector<int> free_;
    int outstanding_ = 0;                  // buffers written and not yet handed back
    std::uint64_t baseFrame_ = 0;          // stream frame at the output's first queued sample
    std::uint64_t queuedFrames_ = 0;       // frames written since the output was opened
    std::uint64_t doneFrames_ = 0;         // frames of buffers handed back since then
    std::uint64_t endFrame_ = UINT64_MAX;  // MCI_TO limit of the current play
    bool atEnd_ = false;                   // sought to the end: nothing left to play

    std::thread thread_;
};

}  // namespace talrec::mci
