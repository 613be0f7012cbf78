// The ALSA wave device: one PCM, opened non-blocking, read or written period by period on the
// stream's device thread, which sleeps in poll() on the PCM's descriptors and an eventfd.
#include "platform/winmm/alsa/wave_alsa.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/winmm/wave_backend.h"

namespace talrec::wave {
namespace {

using Steady = std::chrono::steady_clock;

// A running device that moves no frame for this long is taken as gone.
constexpr auto kStallLimit = std::chrono::seconds(5);
// A suspended PCM is resumed for at most this long, then prepared again.
constexpr auto kResumeLimit = std::chrono::seconds(1);
constexpr int kResumePollMs = 10;
constexpr unsigned kPeriodMicros = 25'000;
constexpr unsigned kBufferMicros = 200'000;
// Capture's buffer is longer: it adds no delay (frames are taken each period) but holds more
// through a busy moment, and lets one read take more of what a fast device has ready.
constexpr unsigned kCaptureBufferMicros = 500'000;

// SimulateAlsaSuspend: every PCM reads, writes and resumes as one suspended for good.
std::atomic<bool> g_simulateSuspend{false};
std::atomic<unsigned> g_resumeRefusals{0};

int ResumePcm(snd_pcm_t* pcm) {
    if (!g_simulateSuspend) return snd_pcm_resume(pcm);
    g_resumeRefusals.fetch_add(1);
    return -EAGAIN;
}

snd_pcm_format_t AlsaFormat(WORD bits) {
    switch (bits) {
        case 8:
            return SND_PCM_FORMAT_U8;
        case 16:
            return SND_PCM_FORMAT_S16_LE;
        case 24:
            return SND_PCM_FORMAT_S24_3LE;
        case 32:
            return SND_PCM_FORMAT_S32_LE;
        default:
            return SND_PCM_FORMAT_UNKNOWN;
    }
}

MMRESULT OpenError(int err) {
    switch (-err) {
        case EBUSY:
        case EAGAIN:
            return MMSYSERR_ALLOCATED;
        case ENOMEM:
            return MMSYSERR_NOMEM;
        default:
            return MMSYSERR_NODRIVER;
    }
}

struct PcmCloser {
    void operator()(snd_pcm_t* p) const { snd_pcm_close(p); }
};
using Pcm = std::unique_ptr<snd_pcm_t, PcmCloser>;

// Sets the exact format, or WAVERR_BADFORMAT: the plug layer may convert, but a device that
// would run at another rate, width or channel count is refused.
MMRESULT Configure(snd_pcm_t* pcm, const WAVEFORMATEX& f, snd_pcm_uframes_t* period,
                   snd_pcm_uframes_t* buffer, std::string* why) {
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    if (const int err = snd_pcm_hw_params_any(pcm, hw); err < 0) {
        *why = snd_strerror(err);
        return MMSYSERR_NODRIVER;
    }
    if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, AlsaFormat(f.wBitsPerSample)) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, f.nChannels) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, f.nSamplesPerSec, 0) < 0)
        return WAVERR_BADFORMAT;
    unsigned periodUs = kPeriodMicros;
    unsigned bufferUs =
        snd_pcm_stream(pcm) == SND_PCM_STREAM_CAPTURE ? kCaptureBufferMicros : kBufferMicros;
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, nullptr);
    snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, nullptr);
    if (snd_pcm_hw_params(pcm, hw) < 0) return WAVERR_BADFORMAT;
    snd_pcm_hw_params_get_period_size(hw, period, nullptr);
    snd_pcm_hw_params_get_buffer_size(hw, buffer);
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    if (const int err = snd_pcm_sw_params_current(pcm, sw); err < 0) {
        *why = snd_strerror(err);
        return MMSYSERR_NODRIVER;
    }
    snd_pcm_sw_params_set_avail_min(pcm, sw, *period);
    // Playback starts with the first frames written; capture starts at Start.
    snd_pcm_sw_params_set_start_threshold(
        pcm, sw, snd_pcm_stream(pcm) == SND_PCM_STREAM_PLAYBACK ? 1 : 0x7fffffff);
    if (const int err = snd_pcm_sw_params(pcm, sw); err < 0) {
        *why = snd_strerror(err);
        return MMSYSERR_NODRIVER;
    }
    return MMSYSERR_NOERROR;
}

class AlsaEndpoint : public Endpoint {
  public:
    AlsaEndpoint(Pcm pcm, Direction dir, const WAVEFORMATEX& f, snd_pcm_uframes_t period,
                 snd_pcm_uframes_t buffer, int wakeFd)
        : pcm_(std::move(pcm)),
          dir_(dir),
          rate_(f.nSamplesPerSec),
          align_(f.nBlockAlign),
          period_(period),
          wakeFd_(wakeFd) {
        if (dir_ == Direction::Capture) {
            stageFrames_ = static_cast<DWORD>(std::max<snd_pcm_uframes_t>(buffer, period));
            stage_.resize(static_cast<std::size_t>(stageFrames_) * align_);
        }
        const int n = snd_pcm_poll_descriptors_count(pcm_.get());
        fds_.resize(static_cast<std::size_t>(std::max(n, 0)) + 1);
        fds_[0] = {wakeFd_, POLLIN, 0};
        if (n > 0) snd_pcm_poll_descriptors(pcm_.get(), fds_.data() + 1, static_cast<unsigned>(n));
    }
    ~AlsaEndpoint() override { close(wakeFd_); }

    bool Start() override {
        lastProgress_ = Steady::now();
        stageBegin_ = stageEnd_ = 0;
        if (dir_ == Direction::Playback) return Recover(snd_pcm_prepare(pcm_.get()));
        if (snd_pcm_state(pcm_.get()) != SND_PCM_STATE_PREPARED &&
            !Recover(snd_pcm_prepare(pcm_.get())))
            return false;
        return snd_pcm_start(pcm_.get()) >= 0;
    }

    void Stop() override {
        stageBegin_ = stageEnd_ = 0;  // dropped with the frames the device still holds
        snd_pcm_drop(pcm_.get());
        snd_pcm_prepare(pcm_.get());
    }

    // Device thread. Capture takes what the device holds, up to a whole ALSA buffer, with one
    // read into the stage, and hands it out in the sizes asked for: a read (and the plug-ins'
    // work behind it) per device wake-up, not per owner's buffer.
    long Transfer(BYTE* data, DWORD frames) override {
        if (dir_ == Direction::Playback) return Move(data, frames);
        if (stageBegin_ == stageEnd_) {
            if (frames >= stageFrames_) return Move(data, frames);
            const long n = Move(stage_.data(), stageFrames_);
            if (n <= 0) return n;
            stageBegin_ = 0;
            stageEnd_ = static_cast<DWORD>(n);
        }
        const DWORD take = std::min(frames, stageEnd_ - stageBegin_);
        std::memcpy(data, stage_.data() + static_cast<std::size_t>(stageBegin_) * align_,
                    static_cast<std::size_t>(take) * align_);
        stageBegin_ += take;
        return static_cast<long>(take);
    }

    DWORD Pending() override {
        snd_pcm_sframes_t delay = 0;
        const int err = snd_pcm_delay(pcm_.get(), &delay);
        if (err == -EPIPE) {
            // The device ran out of frames: everything written has been heard.
            snd_pcm_prepare(pcm_.get());
            return 0;
        }
        return err < 0 || delay < 0 ? 0 : static_cast<DWORD>(delay);
    }

    void Wait(DWORD frames) override {
        const DWORD target = std::max<DWORD>(1, std::min<DWORD>(frames, period_));
        Poll(true, static_cast<int>(2 * target * 1000ull / rate_) + 10);
    }

    void WaitHeard(DWORD frames) override {
        Poll(false, static_cast<int>(frames * 1000ull / rate_) + 1);
    }

    void Wake() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto r = write(wakeFd_, &one, sizeof one);
    }

    DWORD Xruns() const override { return xruns_.load(std::memory_order_relaxed); }

  private:
    // Device thread: one read or write of the PCM, with its recovery.
    long Move(BYTE* data, DWORD frames) {
        const snd_pcm_sframes_t n = g_simulateSuspend ? -ESTRPIPE
                                    : dir_ == Direction::Capture
                                        ? snd_pcm_readi(pcm_.get(), data, frames)
                                        : snd_pcm_writei(pcm_.get(), data, frames);
        if (n > 0) {
            lastProgress_ = Steady::now();
            resumeFailed_ = false;
            return static_cast<long>(n);
        }
        if (n == -EAGAIN || n == 0) return Stalled() ? -1 : 0;
        if (n == -EPIPE) xruns_.fetch_add(1, std::memory_order_relaxed);
        if (!Recover(static_cast<int>(n))) return -1;
        // A prepared capture starts again; a resumed one runs already.
        if (dir_ == Direction::Capture && snd_pcm_state(pcm_.get()) == SND_PCM_STATE_PREPARED &&
            snd_pcm_start(pcm_.get()) < 0)
            return -1;
        // A device that recovers but never moves a frame again is gone all the same.
        return Stalled() ? -1 : 0;
    }

    // Device thread: sleeps until the PCM is ready (when asked), a wake, or the timeout.
    void Poll(bool pcm, int timeoutMs) {
        const nfds_t n = pcm ? fds_.size() : 1;
        for (auto& p : fds_) p.revents = 0;
        if (poll(fds_.data(), n, timeoutMs) > 0 && (fds_[0].revents & POLLIN)) {
            std::uint64_t v;
            [[maybe_unused]] const auto r = read(wakeFd_, &v, sizeof v);
        }
    }

    // Device thread: recovers from an overrun, underrun or suspend; false when the device is
    // gone.
    bool Recover(int err) {
        if (err >= 0) return true;
        if (err == -ESTRPIPE && Resume()) return true;
        if (err == -EPIPE || err == -ESTRPIPE) return snd_pcm_prepare(pcm_.get()) >= 0;
        return false;
    }

    // Device thread: resumes a suspended PCM; false when it does not resume and must be
    // prepared again. snd_pcm_resume answers -EAGAIN while the hardware is still waking up: it
    // is asked again for at most kResumeLimit, and only once when a Wake is pending (a caller
    // waits for the device thread, or the stream closes) or when the last resume came to
    // nothing without a frame moved since.
    bool Resume() {
        const auto until = Steady::now() + kResumeLimit;
        for (;;) {
            const int r = ResumePcm(pcm_.get());
            if (r != -EAGAIN) {
                resumeFailed_ = r < 0;
                return r >= 0;
            }
            if (resumeFailed_ || Steady::now() >= until || WaitForWake(kResumePollMs)) {
                resumeFailed_ = true;
                return false;
            }
        }
    }

    // Device thread: true as soon as a Wake is pending, false after `ms` without one. The
    // wake is left for the next Wait to take.
    bool WaitForWake(int ms) {
        pollfd p{wakeFd_, POLLIN, 0};
        return poll(&p, 1, ms) > 0 && (p.revents & POLLIN);
    }

    bool Stalled() const { return Steady::now() - lastProgress_ > kStallLimit; }

    const Pcm pcm_;
    const Direction dir_;
    const DWORD rate_;
    const WORD align_;
    const snd_pcm_uframes_t period_;
    const int wakeFd_;  // written by Wake on any thread, read on the device thread
    std::vector<pollfd> fds_;
    Steady::time_point lastProgress_ = Steady::now();  // device thread
    bool resumeFailed_ = false;                        // device thread
    // Capture's frames read but not yet handed out, [stageBegin_, stageEnd_): device thread.
    std::vector<BYTE> stage_;
    DWORD stageFrames_ = 0;
    DWORD stageBegin_ = 0;
    DWORD stageEnd_ = 0;
    std::atomic<DWORD> xruns_{0};
};

// alsa-lib prints its diagnostics to standard error; the result codes carry the failure, and
// the command-line tools' output stays clean.
void QuietErrors(const char*, int, const char*, int, const char*, ...) {}

MMRESULT OpenAlsa(const std::string& name, Direction dir, const WAVEFORMATEX& fmt,
                  std::unique_ptr<Endpoint>* out, std::string* why) {
    if (AlsaFormat(fmt.wBitsPerSample) == SND_PCM_FORMAT_UNKNOWN) return WAVERR_BADFORMAT;
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(QuietErrors); });
    snd_pcm_t* raw = nullptr;
    const int err =
        snd_pcm_open(&raw, name.c_str(),
                     dir == Direction::Capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK,
                     SND_PCM_NONBLOCK);
    if (err < 0) {
        *why = snd_strerror(err);
        return OpenError(err);
    }
    Pcm pcm(raw);
    snd_pcm_uframes_t period = 0, buffer = 0;
    if (const MMRESULT r = Configure(pcm.get(), fmt, &period, &buffer, why); r != MMSYSERR_NOERROR)
        return r;
    if (!out) return MMSYSERR_NOERROR;
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        *why = std::strerror(errno);
        return MMSYSERR_NOMEM;
    }
    *out = std::make_unique<AlsaEndpoint>(std::move(pcm), dir, fmt, period, buffer, wakeFd);
    return MMSYSERR_NOERROR;
}

// A hint's description holds line breaks between its parts; one line reads better.
std::string OneLine(const char* text) {
    std::string out = text != nullptr ? text : "";
    for (char& c : out) {
        if (c == '\n') c = ' ';
    }
    return out;
}

// ALSA's device hints of the direction (a hint without a direction serves both).
void ListAlsa(Direction dir, std::vector<platform::WaveDeviceEntry>* out) {
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) != 0) return;
    for (void** hint = hints; *hint != nullptr; ++hint) {
        char* name = snd_device_name_get_hint(*hint, "NAME");
        char* desc = snd_device_name_get_hint(*hint, "DESC");
        char* ioid = snd_device_name_get_hint(*hint, "IOID");
        const bool fits = ioid == nullptr ||
                          std::strcmp(ioid, dir == Direction::Capture ? "Input" : "Output") == 0;
        if (name != nullptr && fits && std::strcmp(name, "null") != 0)
            out->push_back({std::string("alsa:") + name, OneLine(desc)});
        std::free(name);
        std::free(desc);
        std::free(ioid);
    }
    snd_device_name_free_hint(hints);
}

std::string AlsaProductName(const std::string& pcm) {
    return "ALSA " + pcm;
}

}  // namespace

const Backend kAlsaBackend{"alsa", "default", OpenAlsa, ListAlsa, AlsaProductName};

void SimulateAlsaSuspend(bool on) {
    if (on) g_resumeRefusals = 0;
    g_simulateSuspend = on;
}

unsigned SimulatedResumeRefusals() {
    return g_resumeRefusals.load();
}

}  // namespace talrec::wave
