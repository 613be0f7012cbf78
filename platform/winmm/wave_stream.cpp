#include "platform/winmm/wave_stream.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "platform/debugapi.h"
#include "platform/ext/hosthooks.h"

namespace talrec::wave {
namespace {

// dwFlags of a queued header is read by the owner's threads while the device thread writes
// it; every store here is atomic and releases the header's other fields with it.
void StoreFlags(WAVEHDR* h, DWORD flags) {
    std::atomic_ref<DWORD>(h->dwFlags).store(flags, std::memory_order_release);
}
DWORD LoadFlags(WAVEHDR* h) {
    return std::atomic_ref<DWORD>(h->dwFlags).load(std::memory_order_acquire);
}

constexpr DWORD kScratchFrames = 1024;

}  // namespace

Stream::Stream(Direction dir, const WAVEFORMATEX& fmt, std::unique_ptr<Endpoint> ep, Callback cb,
               std::string device)
    : dir_(dir),
      fmt_(fmt),
      align_(fmt.nBlockAlign),
      callback_(cb),
      device_(std::move(device)),
      endpoint_(std::move(ep)) {
    // Playback plays as soon as a buffer is written; capture waits for waveInStart.
    running_ = dir_ == Direction::Playback;
    scratch_.resize(static_cast<std::size_t>(kScratchFrames) * align_);
}

Stream::~Stream() {
    if (thread_.joinable()) {
        {
            std::lock_guard l(mu_);
            closing_ = true;
        }
        deviceWake_.notify_all();
        endpoint_->Wake();
        thread_.join();
    }
}

void Stream::Launch() {
    std::lock_guard l(mu_);
    // What the device thread says is said for whoever opened the device.
    thread_ = std::thread([this, owner = GetThreadDebugOwner()] {
        SetThreadDebugOwner(owner);
        Run();
    });
    threadId_ = thread_.get_id();
}

MMRESULT Stream::Add(WAVEHDR* h) {
    bool idle;
    {
        std::lock_guard l(mu_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        if (lost_) return MMSYSERR_NODRIVER;
        if (dir_ == Direction::Capture && h->dwBufferLength < align_) return MMSYSERR_INVALPARAM;
        Queued q{h, queuedEnd_, queuedEnd_};
        if (dir_ == Direction::Capture) {
            h->dwBytesRecorded = 0;
        } else {
            q.end = q.begin + h->dwBufferLength / align_;
            queuedEnd_ = q.end;
        }
        StoreFlags(h, (LoadFlags(h) | WHDR_INQUEUE) & ~WHDR_DONE);
        queue_.push_back(q);
        idle = dir_ == Direction::Playback && running_ && !endpointStarted_;
    }
    deviceWake_.notify_all();
    if (OnDeviceThread()) return MMSYSERR_NOERROR;
    // The sound starts when it is written, not at the device thread's next step. No waiting
    // for the device thread here: the writer may hold a lock that its callback takes.
    if (idle) endpoint_->Prime();
    endpoint_->Wake();
    return MMSYSERR_NOERROR;
}

MMRESULT Stream::Start() {
    return Command(Cmd::Start);
}
MMRESULT Stream::Stop() {
    return Command(Cmd::Stop);
}
MMRESULT Stream::Pause() {
    return Command(Cmd::Pause);
}
MMRESULT Stream::Restart() {
    return Command(Cmd::Restart);
}
MMRESULT Stream::Reset() {
    return Command(Cmd::Reset);
}
MMRESULT Stream::Position(DWORD* frames) {
    return Command(Cmd::Position, frames);
}

MMRESULT Stream::Close() {
    {
        std::lock_guard l(mu_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        if (!queue_.empty()) return WAVERR_STILLPLAYING;
        if (OnDeviceThread()) return MMSYSERR_HANDLEBUSY;
        closing_ = true;
    }
    deviceWake_.notify_all();
    endpoint_->Wake();
    thread_.join();
    return MMSYSERR_NOERROR;
}

// Caller's thread: hands the command to the device thread and waits until it is carried out.
// From inside the callback (the device thread itself) the command runs at once.
MMRESULT Stream::Command(Cmd c, DWORD* position) {
    Reply reply;
    std::unique_lock l(mu_);
    if (OnDeviceThread()) {
        reply.result = Execute(l, c, &reply.position);
    } else {
        const auto posted = commands_.Post(
            l, c, [&] { return !closing_; },
            [&] {
                deviceWake_.notify_all();
                endpoint_->Wake();
            });
        if (!posted) return MMSYSERR_INVALHANDLE;
        reply = *posted;
    }
    if (position) *position = reply.position;
    return reply.result;
}

bool Stream::Settled() {
    std::lock_guard l(mu_);
    if (commands_.Pending() || closing_) return false;
    if (idle_) return !HasWork();
    return waitingOnDevice_ && endpoint_->Asleep();
}

bool Stream::HasWork() const {
    if (!running_ || lost_) return false;
    return dir_ == Direction::Capture || !queue_.empty();
}

// Device thread.
void Stream::Run() {
    { std::lock_guard gate(mu_); }  // Launch has set threadId_
    Deliver(nullptr, dir_ == Direction::Capture ? WIM_OPEN : WOM_OPEN, nullptr);
    std::unique_lock l(mu_);
    for (;;) {
        if (commands_.Pending()) {
            const Cmd c = commands_.Take();
            Reply reply;
            reply.result = Execute(l, c, &reply.position);
            commands_.Answer(reply);
            continue;
        }
        if (closing_) break;
        if (HasWork()) {
            if (dir_ == Direction::Capture) {
                StepCapture(l);
            } else {
                StepPlayback(l);
            }
            continue;
        }
        idle_ = true;
        deviceWake_.wait(l, [&] { return commands_.Pending() || closing_ || HasWork(); });
        idle_ = false;
    }
    if (endpointStarted_) endpoint_->Stop();
    l.unlock();
    Deliver(nullptr, dir_ == Direction::Capture ? WIM_CLOSE : WOM_CLOSE, nullptr);
}

// Device thread, mu_ held. Callbacks run with mu_ released.
MMRESULT Stream::Execute(std::unique_lock<std::mutex>& l, Cmd c, DWORD* position) {
    switch (c) {
        case Cmd::Start:
            if (lost_) return MMSYSERR_NODRIVER;
            if (running_) return MMSYSERR_NOERROR;
            if (!endpoint_->Start()) {
                Lose(l);
                return MMSYSERR_NODRIVER;
            }
            running_ = endpointStarted_ = true;
            return MMSYSERR_NOERROR;
        case Cmd::Stop:
            if (!running_) return MMSYSERR_NOERROR;
            DrainCapture(l);
            endpoint_->Stop();
            running_ = endpointStarted_ = false;
            if (recorded_ > 0 && !queue_.empty()) HandBack(l);
            return MMSYSERR_NOERROR;
        case Cmd::Pause:
            if (!running_) return MMSYSERR_NOERROR;
            if (endpointStarted_) {
                CatchUpPlayback(l);
                CompleteHeard(l);
                // Frames handed over but not heard are handed over again at the restart.
                written_ = heard_;
            }
            endpoint_->Stop();
            endpointStarted_ = false;
            running_ = false;
            return MMSYSERR_NOERROR;
        case Cmd::Restart:
            if (lost_) return MMSYSERR_NODRIVER;
            running_ = true;
            // Buffers written while paused start playing now, not at the device thread's
            // next step.
            if (!queue_.empty() && !endpointStarted_) {
                if (!endpoint_->Start()) {
                    Lose(l);
                    return MMSYSERR_NODRIVER;
                }
                endpointStarted_ = true;
            }
            return MMSYSERR_NOERROR;
        case Cmd::Reset:
            if (dir_ == Direction::Capture) {
                if (running_) DrainCapture(l);
                if (endpointStarted_) endpoint_->Stop();
                running_ = endpointStarted_ = false;
                HandBackAll(l);
                position_ = 0;
            } else {
                if (endpointStarted_) CatchUpPlayback(l);
                endpoint_->Stop();
                endpointStarted_ = false;
                HandBackAll(l);
                // Headers queued by the callbacks of this reset stay queued.
                written_ = heard_ = queue_.empty() ? queuedEnd_ : queue_.front().begin;
                heardAtReset_ = heard_;
                running_ = !lost_;
            }
            return MMSYSERR_NOERROR;
        case Cmd::Position:
            if (lost_) return MMSYSERR_NODRIVER;
            if (dir_ == Direction::Capture) {
                if (running_ && !queue_.empty()) FillFront(l);
                *position = static_cast<DWORD>(position_);
            } else {
                if (endpointStarted_) {
                    CatchUpPlayback(l);
                    CompleteHeard(l);
                }
                *position = static_cast<DWORD>(heard_ - heardAtReset_);
            }
            return MMSYSERR_NOERROR;
    }
    return MMSYSERR_ERROR;
}

// Device thread, mu_ held: moves the frames ready now into the header at the front. Returns
// the frames moved, or -1 when the device is gone (then every buffer has been handed back).
long Stream::FillFront(std::unique_lock<std::mutex>& l) {
    WAVEHDR* h = queue_.front().h;
    const DWORD room = (h->dwBufferLength - recorded_) / align_;
    if (room == 0) {
        HandBack(l);
        return 0;
    }
    BYTE* dst = reinterpret_cast<BYTE*>(h->lpData) + recorded_;
    l.unlock();
    const long n = endpoint_->Transfer(dst, room);
    l.lock();
    if (n < 0) {
        Lose(l);
        return -1;
    }
    recorded_ += static_cast<DWORD>(n) * align_;
    position_ += static_cast<DWORD>(n);
    delivered_ += static_cast<DWORD>(n);
    if (static_cast<DWORD>(n) == room) HandBack(l);
    return n;
}

// Device thread, mu_ held.
void Stream::StepCapture(std::unique_lock<std::mutex>& l) {
    if (queue_.empty()) {
        // No buffer to fill: what the device hears now is lost, as on any device.
        l.unlock();
        const long n = endpoint_->Transfer(scratch_.data(), kScratchFrames);
        l.lock();
        if (n == 0) WaitOnDevice(l, [&] { endpoint_->Wait(kScratchFrames); });
        if (n < 0) Lose(l);
        return;
    }
    WAVEHDR* h = queue_.front().h;
    const DWORD room = (h->dwBufferLength - recorded_) / align_;
    const long n = FillFront(l);
    if (n == 0 && room > 0) WaitOnDevice(l, [&] { endpoint_->Wait(room); });
}

// Device thread, mu_ held: at a stop or reset, moves what the device has captured until now
// into the queued buffers. Bounded by the buffers queued when it begins, so that a callback
// that queues again cannot keep it going on a device that is never short of frames.
void Stream::DrainCapture(std::unique_lock<std::mutex>& l) {
    std::size_t fills = queue_.size();
    while (fills > 0 && !queue_.empty()) {
        const WAVEHDR* h = queue_.front().h;
        const DWORD room = (h->dwBufferLength - recorded_) / align_;
        const long n = FillFront(l);
        if (n < 0) return;
        if (static_cast<DWORD>(n) == room) {
            --fills;  // handed back full
            continue;
        }
        if (n == 0) return;
    }
}

// Device thread, mu_ held.
void Stream::StepPlayback(std::unique_lock<std::mutex>& l) {
    if (!endpointStarted_) {
        if (!endpoint_->Start()) {
            Lose(l);
            return;
        }
        endpointStarted_ = true;
    }
    CompleteHeard(l);
    if (!HasWork()) {
        // Every buffer heard (or a command came in a callback): the device idles.
        if (endpointStarted_ && queue_.empty()) {
            endpoint_->Stop();
            endpointStarted_ = false;
        }
        return;
    }
    DWORD frames = 0;
    const long n = WriteUnwritten(l, frames);
    if (frames == 0) {
        // Every queued frame is with the device: wait until the first buffer is heard.
        const DWORD toHear = static_cast<DWORD>(queue_.front().end - heard_);
        WaitOnDevice(l, [&] { endpoint_->WaitHeard(toHear); });
        return;
    }
    if (n == 0) WaitOnDevice(l, [&] { endpoint_->Wait(frames); });
}

// Device thread, mu_ held: hands the device every frame it can take now, without waiting,
// so that a pause, reset or position sees all that has been heard until this moment.
void Stream::CatchUpPlayback(std::unique_lock<std::mutex>& l) {
    while (!lost_) {
        DWORD frames = 0;
        const long n = WriteUnwritten(l, frames);
        if (frames == 0 || n < 0 || static_cast<DWORD>(n) < frames) return;
    }
}

// Device thread, mu_ held: offers the device the frames of the first queued buffer not yet
// wholly handed over, from where the last transfer stopped. `offered` is how many (0: every
// queued frame is handed over already, and nothing is transferred). Returns the frames the
// device took, or -1 when it is gone (then every buffer has been handed back).
long Stream::WriteUnwritten(std::unique_lock<std::mutex>& l, DWORD& offered) {
    auto cur = std::find_if(queue_.begin(), queue_.end(),
                            [&](const Queued& q) { return q.end > written_; });
    offered = 0;
    if (cur == queue_.end()) return 0;
    const BYTE* src =
        reinterpret_cast<const BYTE*>(cur->h->lpData) + (written_ - cur->begin) * align_;
    offered = static_cast<DWORD>(cur->end - written_);
    l.unlock();
    const long n = endpoint_->Transfer(const_cast<BYTE*>(src), offered);
    l.lock();
    if (n < 0) {
        Lose(l);
        return -1;
    }
    written_ += static_cast<DWORD>(n);
    return n;
}

// Device thread, mu_ held: hands back, in order, the playback buffers whose frames have all
// been heard.
void Stream::CompleteHeard(std::unique_lock<std::mutex>& l) {
    const std::uint64_t pending = endpointStarted_ ? endpoint_->Pending() : 0;
    const std::uint64_t before = heard_;
    heard_ = std::max(heard_, written_ - std::min<std::uint64_t>(pending, written_ - heard_));
    delivered_ += heard_ - before;
    while (!queue_.empty() && queue_.front().end <= heard_) HandBack(l);
}

// Device thread, mu_ held: the buffer at the front goes back to the owner.
void Stream::HandBack(std::unique_lock<std::mutex>& l) {
    WAVEHDR* h = queue_.front().h;
    queue_.pop_front();
    if (dir_ == Direction::Capture) {
        h->dwBytesRecorded = recorded_;
        recorded_ = 0;
    }
    StoreFlags(h, (LoadFlags(h) & ~WHDR_INQUEUE) | WHDR_DONE);
    Deliver(&l, dir_ == Direction::Capture ? WIM_DATA : WOM_DONE, h);
}

// Device thread, mu_ held: hands back every buffer queued now, in order; the first with what
// it holds.
void Stream::HandBackAll(std::unique_lock<std::mutex>& l) {
    for (std::size_t n = queue_.size(); n > 0 && !queue_.empty(); --n) HandBack(l);
}

// Device thread, mu_ held: the device is gone. Says so once on the debug output (with mu_
// released, as for a callback), with the sound it delivered until then: captured into
// buffers, or handed over for playing.
void Stream::Lose(std::unique_lock<std::mutex>& l) {
    std::string line;
    if (!lost_) {
        const std::uint64_t frames =
            delivered_ + (dir_ == Direction::Playback ? written_ - heard_ : 0);
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f",
                      static_cast<double>(frames) / fmt_.nSamplesPerSec);
        line = std::string(dir_ == Direction::Capture ? "waveIn: " : "waveOut: ") + device_ +
               " was lost after " + seconds + " s of sound";
    }
    lost_ = true;
    if (endpointStarted_) endpoint_->Stop();
    running_ = endpointStarted_ = false;
    // Said before the buffers go back, so that an owner who sees them back sees the line too.
    if (!line.empty()) {
        l.unlock();
        OutputDebugStringA(line.c_str());
        l.lock();
    }
    HandBackAll(l);
}

// Device thread. Runs the owner's callback with mu_ released, so that it may call back in.
void Stream::Deliver(std::unique_lock<std::mutex>* l, UINT msg, WAVEHDR* h) {
    if (!callback_.in && !callback_.out) return;
    if (l) l->unlock();
    const auto p1 = reinterpret_cast<DWORD_PTR>(h);
    if (callback_.in) {
        callback_.in(static_cast<HWAVEIN>(callback_.handle), msg, callback_.instance, p1, 0);
    } else {
        callback_.out(static_cast<HWAVEOUT>(callback_.handle), msg, callback_.instance, p1, 0);
    }
    if (l) l->lock();
}

}  // namespace talrec::wave
