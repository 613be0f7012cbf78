#include "platform/winmm/mci/mci_device.h"

#include <algorithm>

#include "platform/ext/hosthooks.h"
#include "platform/ext/wavformat.h"

namespace talrec::mci {
namespace {

// Each buffer holds 50 ms of sound, so four of them keep 200 ms queued ahead.
constexpr int kBuffersPerSecond = 20;

MCIERROR OutputError(MMRESULT rc) {
    switch (rc) {
        case MMSYSERR_ALLOCATED:
            return MCIERR_WAVE_OUTPUTSINUSE;
        case WAVERR_BADFORMAT:
            return MCIERR_WAVE_OUTPUTSUNSUITABLE;
        case MMSYSERR_NOMEM:
            return MCIERR_OUT_OF_MEMORY;
        default:
            return MCIERR_HARDWARE;
    }
}

}  // namespace

MciDevice::MciDevice(std::unique_ptr<MediaDecoder> decoder)
    : lengthMs_(decoder->LengthMs()),
      format_(decoder->OutputFormat()),
      bufferBytes_(static_cast<std::size_t>(std::max(1, format_.rate / kBuffersPerSecond)) *
                   static_cast<std::size_t>(format_.FrameBytes())),
      decoder_(std::move(decoder)) {
    for (auto& b : buffers_) b.resize(bufferBytes_);
    for (int i = kBuffers - 1; i >= 0; --i) free_.push_back(i);
    // The player's thread, and the output it opens, speak for whoever opened the file.
    thread_ = std::thread([this, owner = GetThreadDebugOwner()] {
        SetThreadDebugOwner(owner);
        Run();
    });
}

MciDevice::~MciDevice() {
    Close();
}

MCIERROR MciDevice::Play(std::optional<DWORD> from, std::optional<DWORD> to) {
    if (from && *from > lengthMs_) return MCIERR_OUTOFRANGE;
    if (from && to && *to < *from) return MCIERR_OUTOFRANGE;
    return Send({Op::Play, from, to});
}
MCIERROR MciDevice::Pause() {
    return Send({Op::Pause, {}, {}});
}
MCIERROR MciDevice::Resume() {
    return Send({Op::Resume, {}, {}});
}
MCIERROR MciDevice::Stop() {
    return Send({Op::Stop, {}, {}});
}
MCIERROR MciDevice::SeekToStart() {
    return Send({Op::SeekStart, {}, {}});
}
MCIERROR MciDevice::SeekToEnd() {
    return Send({Op::SeekEnd, {}, {}});
}
MCIERROR MciDevice::SeekTo(DWORD ms) {
    if (ms > lengthMs_) return MCIERR_OUTOFRANGE;
    return Send({Op::SeekTo, {}, ms});
}

MCIERROR MciDevice::PositionMs(DWORD& ms) {
    return Send({Op::Position, {}, {}}, &ms);
}

// Caller's thread: waits until the device thread has carried the command out.
MCIERROR MciDevice::Send(const Command& command, DWORD* answer) {
    std::unique_lock lock(mutex_);
    const auto done = commands_.Post(
        lock, command,
        [this, &command] {
            if (closed_) return false;
            if (command.op == Op::Quit) closed_ = true;
            return true;
        },
        [this] { wake_.notify_one(); });
    if (!done) return MCIERR_INVALID_DEVICE_ID;
    if (answer != nullptr) *answer = done->value;
    return done->rc;
}

void MciDevice::WaitWhilePlaying() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return mode_.load() != MCI_MODE_PLAY; });
}

void MciDevice::Close() {
    if (!thread_.joinable()) return;
    Send({Op::Quit, {}, {}});
    thread_.join();
}

void MciDevice::SetMode(DWORD mode) {
    {
        std::lock_guard lock(mutex_);
        mode_ = mode;
    }
    changed_.notify_all();
}

// Runs on the device thread.
void MciDevice::Run() {
    for (;;) {
        std::optional<Command> command;
        std::vector<int> returned;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] {
                return commands_.Pending() || !returned_.empty() || WantsToFeed();
            });
            if (commands_.Pending()) command = commands_.Take();
            returned.swap(returned_);
        }
        Reclaim(returned);
        if (command) {
            Answer answer;
            answer.rc = Execute(*command, answer.value);
            {
                std::lock_guard lock(mutex_);
                commands_.Answer(answer);
            }
            if (command->op == Op::Quit) return;
        } else if (WantsToFeed()) {
            FeedOne();
        }
        // The last sample has been played: the file has ended. The output is given back
        // before the mode says so.
        if (mode_.load() == MCI_MODE_PLAY && outstanding_ == 0 && Exhausted()) {
            CloseOutput(true);
            SetMode(MCI_MODE_STOP);
        }
    }
}

// Runs on the device thread.
MCIERROR MciDevice::Execute(const Command& command, DWORD& answer) {
    const DWORD mode = mode_.load();
    switch (command.op) {
        case Op::Play:
            return StartPlaying(command);
        case Op::Pause:
            if (mode == MCI_MODE_PLAY) {
                if (wave_ != nullptr) waveOutPause(wave_);
                SetMode(MCI_MODE_PAUSE);
            }
            return 0;
        case Op::Resume:
            if (mode == MCI_MODE_PAUSE) {
                if (wave_ != nullptr) waveOutRestart(wave_);
                SetMode(MCI_MODE_PLAY);
            }
            return 0;
        case Op::Stop:
            CloseOutput(true);
            SetMode(MCI_MODE_STOP);
            return 0;
        case Op::SeekStart:
            CloseOutput(false);
            SetMode(MCI_MODE_STOP);
            atEnd_ = false;
            if (!SkipTo(0)) return MCIERR_INTERNAL;
            baseFrame_ = decoder_->FramesRead();
            return 0;
        case Op::SeekEnd:
            CloseOutput(false);
            SetMode(MCI_MODE_STOP);
            atEnd_ = true;
            return 0;
        case Op::SeekTo:
            CloseOutput(false);
            SetMode(MCI_MODE_STOP);
            atEnd_ = false;
            SkipTo(FramesAt(*command.to));
            baseFrame_ = decoder_->FramesRead();
            return 0;
        case Op::Position:
            answer =
                atEnd_ ? lengthMs_ : MsAt(baseFrame_ + (wave_ != nullptr ? PlayedFrames() : 0));
            return 0;
        case Op::Quit:
            CloseOutput(false);
            SetMode(MCI_MODE_STOP);
            return 0;
    }
    return MCIERR_UNRECOGNIZED_COMMAND;
}

// Runs on the device thread.
MCIERROR MciDevice::StartPlaying(const Command& command) {
    if (command.from) {
        CloseOutput(false);
        SetMode(MCI_MODE_STOP);
        atEnd_ = false;
        if (!SkipTo(FramesAt(*command.from))) return MCIERR_INTERNAL;
        baseFrame_ = decoder_->FramesRead();
    }
    endFrame_ = command.to ? FramesAt(*command.to) : UINT64_MAX;
    const DWORD mode = mode_.load();
    if (mode == MCI_MODE_PAUSE) {
        if (wave_ != nullptr) waveOutRestart(wave_);
        SetMode(MCI_MODE_PLAY);
        return 0;
    }
    if (mode == MCI_MODE_PLAY || Exhausted()) return 0;  // playing already, or nothing left
    if (wave_ == nullptr) {
        const MCIERROR rc = OpenOutput();
        if (rc != 0) return rc;
    }
    SetMode(MCI_MODE_PLAY);
    return 0;
}

// Runs on the device thread.
MCIERROR MciDevice::OpenOutput() {
    const WAVEFORMATEX wfx =
        MakePcmFormat(static_cast<WORD>(format_.channels), static_cast<DWORD>(format_.rate),
                      static_cast<WORD>(format_.bits));
    HWAVEOUT wave = nullptr;
    const MMRESULT rc =
        waveOutOpen(&wave, WAVE_MAPPER, &wfx, reinterpret_cast<DWORD_PTR>(&MciDevice::WaveCallback),
                    reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (rc != MMSYSERR_NOERROR) return OutputError(rc);
    for (int i = 0; i < kBuffers; ++i) {
        WAVEHDR& h = headers_[static_cast<std::size_t>(i)];
        h = WAVEHDR{};
        h.lpData = reinterpret_cast<LPSTR>(buffers_[static_cast<std::size_t>(i)].data());
        h.dwBufferLength = static_cast<DWORD>(bufferBytes_);
        h.dwUser = static_cast<DWORD_PTR>(i);
        if (waveOutPrepareHeader(wave, &h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
            for (int j = 0; j < i; ++j) {
                waveOutUnprepareHeader(wave, &headers_[static_cast<std::size_t>(j)],
                                       sizeof(WAVEHDR));
            }
            waveOutClose(wave);
            return MCIERR_OUT_OF_MEMORY;
        }
    }
    wave_ = wave;
    baseFrame_ = decoder_->FramesRead();
    queuedFrames_ = 0;
    doneFrames_ = 0;
    return 0;
}

// Runs on the device thread. Hands every queued buffer back and closes the output; with
// keepPlayedPosition the stream continues after the last sample played, not the last decoded.
void MciDevice::CloseOutput(bool keepPlayedPosition) {
    if (wave_ == nullptr) return;
    const std::uint64_t played = PlayedFrames();
    waveOutReset(wave_);  // returns once the callbacks for every buffer have run
    std::vector<int> returned;
    {
        std::lock_guard lock(mutex_);
        returned.swap(returned_);
    }
    Reclaim(returned);
    for (auto& h : headers_) waveOutUnprepareHeader(wave_, &h, sizeof(WAVEHDR));
    waveOutClose(wave_);
    wave_ = nullptr;
    outstanding_ = 0;
    free_.clear();
    for (int i = kBuffers - 1; i >= 0; --i) free_.push_back(i);
    const std::uint64_t stoppedAt = baseFrame_ + played;
    if (keepPlayedPosition && stoppedAt != decoder_->FramesRead()) SkipTo(stoppedAt);
    baseFrame_ = decoder_->FramesRead();
    queuedFrames_ = 0;
    doneFrames_ = 0;
}

// Runs on the device thread.
void MciDevice::Reclaim(const std::vector<int>& returned) {
    const auto frameBytes = static_cast<std::uint64_t>(format_.FrameBytes());
    for (const int i : returned) {
        free_.push_back(i);
        --outstanding_;
        doneFrames_ += headers_[static_cast<std::size_t>(i)].dwBufferLength / frameBytes;
    }
}

// Runs on the device thread.
void MciDevice::FeedOne() {
    const int i = free_.back();
    const auto index = static_cast<std::size_t>(i);
    const auto frameBytes = static_cast<std::uint64_t>(format_.FrameBytes());
    std::uint64_t want = bufferBytes_;
    const std::uint64_t read = decoder_->FramesRead();
    if (endFrame_ != UINT64_MAX) want = std::min(want, (endFrame_ - read) * frameBytes);
    const std::size_t got = decoder_->Read(buffers_[index].data(), static_cast<std::size_t>(want));
    if (got == 0) return;  // the stream has ended; Exhausted() now says so
    free_.pop_back();
    WAVEHDR& h = headers_[index];
    h.dwBufferLength = static_cast<DWORD>(got);
    h.dwFlags &= ~WHDR_DONE;
    ++outstanding_;
    queuedFrames_ += got / frameBytes;
    if (waveOutWrite(wave_, &h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        // The output has failed: what it took is played out no further.
        --outstanding_;
        queuedFrames_ -= got / frameBytes;
        free_.push_back(i);
        CloseOutput(false);
        atEnd_ = true;
        SetMode(MCI_MODE_STOP);
    }
}

bool MciDevice::Exhausted() const {
    return atEnd_ || decoder_->AtEnd() || decoder_->FramesRead() >= endFrame_;
}

bool MciDevice::WantsToFeed() const {
    const DWORD mode = mode_.load();
    return (mode == MCI_MODE_PLAY || mode == MCI_MODE_PAUSE) && wave_ != nullptr &&
           !free_.empty() && !Exhausted();
}

// Runs on the device thread. Decodes from the start (if the frame is behind) up to the frame.
bool MciDevice::SkipTo(std::uint64_t frame) {
    if (frame < decoder_->FramesRead() && !decoder_->Rewind()) return false;
    std::vector<std::uint8_t> scratch(bufferBytes_);
    const auto frameBytes = static_cast<std::uint64_t>(format_.FrameBytes());
    while (decoder_->FramesRead() < frame) {
        const std::uint64_t want =
            std::min<std::uint64_t>(bufferBytes_, (frame - decoder_->FramesRead()) * frameBytes);
        if (decoder_->Read(scratch.data(), static_cast<std::size_t>(want)) == 0) break;
    }
    return true;
}

// Runs on the device thread. Frames the output has played since it was opened.
std::uint64_t MciDevice::PlayedFrames() {
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    if (waveOutGetPosition(wave_, &t, sizeof(MMTIME)) == MMSYSERR_NOERROR &&
        t.wType == TIME_SAMPLES) {
        return std::clamp<std::uint64_t>(t.u.sample, doneFrames_, queuedFrames_);
    }
    return doneFrames_;
}

std::uint64_t MciDevice::FramesAt(DWORD ms) const {
    return static_cast<std::uint64_t>(ms) * static_cast<std::uint64_t>(format_.rate) / 1000;
}

DWORD MciDevice::MsAt(std::uint64_t frame) const {
    const std::uint64_t ms = frame * 1000 / static_cast<std::uint64_t>(format_.rate);
    return static_cast<DWORD>(std::min<std::uint64_t>(ms, lengthMs_ > 0 ? lengthMs_ : ms));
}

// Runs on the wave output's callback thread: hands a finished buffer to the device thread.
void MciDevice::WaveCallback(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    if (msg != WOM_DONE) return;
    auto* self = reinterpret_cast<MciDevice*>(instance);
    const auto* header = reinterpret_cast<const WAVEHDR*>(param1);
    {
        std::lock_guard lock(self->mutex_);
        self->returned_.push_back(static_cast<int>(header->dwUser));
    }
    self->wake_.notify_one();
}

}  // namespace talrec::mci
