// The virtual wave device: a source (silence, a tone, a WAV file) or a sink (discard, a WAV
// file) moved at the pace of a clock.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <set>
#include <string>
#include <string_view>

#include "platform/ext/virtualwave.h"
#include "platform/winmm/virtual/wav_file.h"
#include "platform/winmm/wave_backend.h"

namespace talrec::wave {
namespace {

std::mutex g_clockMu;
std::shared_ptr<WaveClock> g_clock;  // guarded by g_clockMu; null: the real clock

class VirtualEndpoint;
std::mutex g_devicesMu;
std::set<VirtualEndpoint*> g_devices;  // guarded by g_devicesMu: the open devices

constexpr std::int64_t kNanos = 1'000'000'000;

struct Config {
    enum class Source { Silence, Tone, File } source = Source::Tone;
    double freq = 440, amplitude = 0.5;
    std::string sourcePath;
    std::string sinkPath;  // empty: discard
    double speed = 1;
};

bool ParseNumber(std::string_view s, double* out) {
    const std::string str(s);
    char* end = nullptr;
    const double v = std::strtod(str.c_str(), &end);
    if (str.empty() || end != str.c_str() + str.size() || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

std::string_view Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// False with *why naming the variable that is not understood.
bool ReadConfig(Config* c, std::string* why) {
    const std::string_view src = Env("TALREC_VIRTUAL_SOURCE");
    bool sourceOk = true;
    if (src == "silence") {
        c->source = Config::Source::Silence;
    } else if (src.starts_with("tone:")) {
        const std::string_view rest = src.substr(5);
        const auto colon = rest.find(':');
        sourceOk = ParseNumber(rest.substr(0, colon), &c->freq) && c->freq >= 0 &&
                   (colon == std::string_view::npos ||
                    (ParseNumber(rest.substr(colon + 1), &c->amplitude) && c->amplitude >= 0 &&
                     c->amplitude <= 1));
    } else if (src.starts_with("file:") && src.size() > 5) {
        c->source = Config::Source::File;
        c->sourcePath = src.substr(5);
    } else {
        sourceOk = src.empty();
    }
    if (!sourceOk) {
        *why = "TALREC_VIRTUAL_SOURCE=" + std::string(src) +
               " is not silence, tone:FREQ[:AMPLITUDE] or file:PATH";
        return false;
    }
    const std::string_view sink = Env("TALREC_VIRTUAL_SINK");
    if (sink.starts_with("file:") && sink.size() > 5) {
        c->sinkPath = sink.substr(5);
    } else if (!sink.empty() && sink != "discard") {
        *why = "TALREC_VIRTUAL_SINK=" + std::string(sink) + " is not discard or file:PATH";
        return false;
    }
    const std::string_view speed = Env("TALREC_VIRTUAL_SPEED");
    if (!speed.empty() && (!ParseNumber(speed, &c->speed) || c->speed <= 0)) {
        *why = "TALREC_VIRTUAL_SPEED=" + std::string(speed) + " is not a positive number";
        return false;
    }
    return true;
}

// Frames due after `ns` of virtual time, and the time at which `frames` are due.
std::uint64_t FramesAt(std::int64_t ns, DWORD rate) {
    if (ns <= 0) return 0;
    const auto u = static_cast<std::uint64_t>(ns);
    return u / kNanos * rate + u % kNanos * rate / kNanos;
}
std::int64_t TimeOf(std::uint64_t frames, DWORD rate) {
    return static_cast<std::int64_t>(frames / rate * kNanos +
                                     (frames % rate * kNanos + rate - 1) / rate);
}

class VirtualEndpoint : public Endpoint {
  public:
    VirtualEndpoint(Direction dir, const WAVEFORMATEX& fmt, Config cfg,
                    std::shared_ptr<WaveClock> clock, std::vector<BYTE> file)
        : dir_(dir),
          fmt_(fmt),
          cfg_(std::move(cfg)),
          clock_(std::move(clock)),
          file_(std::move(file)) {
        std::lock_guard l(g_devicesMu);
        g_devices.insert(this);
    }
    ~VirtualEndpoint() override {
        std::lock_guard l(g_devicesMu);
        g_devices.erase(this);
    }

    // Any thread: the device goes away now. What was due until this moment still moves.
    void Lose() {
        std::int64_t none = -1;
        lostAt_.compare_exchange_strong(none, clock_->Now());
        Wake();
    }

    bool OpenSink() { return cfg_.sinkPath.empty() || sink_.Open(cfg_.sinkPath, fmt_); }

    bool Start() override {
        if (lostAt_ >= 0) return false;
        started_ = true;
        const std::int64_t primed = primed_.exchange(-1);
        t0_ = primed >= 0 ? primed : clock_->Now();
        moved_ = 0;
        return true;
    }
    void Stop() override {
        started_ = false;
        primed_ = -1;
    }
    void Prime() override { primed_ = clock_->Now(); }

    long Transfer(BYTE* data, DWORD frames) override {
        const std::int64_t lostAt = lostAt_.load();
        if (!started_) return lostAt >= 0 ? -1 : 0;
        const std::int64_t now = lostAt >= 0 ? (std::min)(lostAt, clock_->Now()) : clock_->Now();
        const std::uint64_t due = FramesAt(now - t0_, fmt_.nSamplesPerSec) - moved_;
        const DWORD n = static_cast<DWORD>(std::min<std::uint64_t>(due, frames));
        if (n == 0) return lostAt >= 0 ? -1 : 0;
        if (dir_ == Direction::Capture) {
            Generate(data, n);
        } else if (!cfg_.sinkPath.empty() &&
                   !sink_.Write(data, static_cast<std::size_t>(n) * fmt_.nBlockAlign)) {
            return -1;  // the sink file cannot take more: the device is gone
        }
        moved_ += n;
        return static_cast<long>(n);
    }

    DWORD Pending() override { return 0; }  // the sink hears a frame when it takes it

    void Wait(DWORD frames) override {
        const std::int64_t deadline =
            started_ ? t0_ + TimeOf(moved_ + std::max<DWORD>(frames, 1), fmt_.nSamplesPerSec)
                     : clock_->Now() + kNanos;
        clock_->WaitUntil(deadline, waiter_);
    }
    void WaitHeard(DWORD frames) override { Wait(frames); }

    void Wake() override {
        {
            std::lock_guard l(waiter_.mu);
            waiter_.woken = true;
        }
        waiter_.cv.notify_all();
    }
    DWORD Xruns() const override { return 0; }

    bool Asleep() override {
        std::lock_guard l(waiter_.mu);
        return waiter_.asleep && !waiter_.woken && clock_->Now() < waiter_.deadline;
    }

  private:
    void Generate(BYTE* out, DWORD frames) {
        const std::size_t bytes = static_cast<std::size_t>(frames) * fmt_.nBlockAlign;
        if (cfg_.source == Config::Source::File) {
            const std::size_t n = std::min(bytes, file_.size() - filePos_);
            std::memcpy(out, file_.data() + filePos_, n);
            filePos_ += n;
            FillSilence(out + n, bytes - n);
            return;
        }
        if (cfg_.source == Config::Source::Silence || cfg_.amplitude == 0 || cfg_.freq == 0) {
            FillSilence(out, bytes);
            sample_ += frames;
            return;
        }
        const int width = fmt_.wBitsPerSample / 8;
        const double full = std::ldexp(1.0, fmt_.wBitsPerSample - 1) - 1;
        for (DWORD f = 0; f < frames; ++f, ++sample_) {
            const double turns = std::fmod(cfg_.freq * static_cast<double>(sample_),
                                           static_cast<double>(fmt_.nSamplesPerSec));
            const double v = cfg_.amplitude * full *
                             std::sin(2 * std::numbers::pi * turns / fmt_.nSamplesPerSec);
            std::int64_t s = std::lround(v);
            if (width == 1) s += 128;
            for (WORD c = 0; c < fmt_.nChannels; ++c) {
                for (int b = 0; b < width; ++b) *out++ = static_cast<BYTE>(s >> (8 * b));
            }
        }
    }

    void FillSilence(BYTE* out, std::size_t bytes) const {
        std::memset(out, fmt_.wBitsPerSample == 8 ? 0x80 : 0, bytes);
    }

    const Direction dir_;
    const WAVEFORMATEX fmt_;
    const Config cfg_;
    const std::shared_ptr<WaveClock> clock_;
    const std::vector<BYTE> file_;
    std::atomic<std::int64_t> lostAt_{-1};  // Lose (any thread): the clock's time of the loss
    ClockWaiter waiter_;                    // Wake (any thread) and the device thread's waits
    std::atomic<std::int64_t> primed_{-1};  // Prime (any thread): the next Start's origin

    // Device thread only.
    bool started_ = false;
    std::int64_t t0_ = 0;
    std::uint64_t moved_ = 0;   // frames moved since Start
    std::uint64_t sample_ = 0;  // tone: index of the next sample
    std::size_t filePos_ = 0;
    WavWriter sink_;
};

}  // namespace

void SetVirtualClock(std::shared_ptr<WaveClock> clock) {
    std::lock_guard l(g_clockMu);
    g_clock = std::move(clock);
}

void LoseVirtualDevices() {
    std::lock_guard l(g_devicesMu);
    for (VirtualEndpoint* d : g_devices) d->Lose();
}

namespace {

MMRESULT OpenVirtual(const std::string&, Direction dir, const WAVEFORMATEX& fmt,
                     std::unique_ptr<Endpoint>* out, std::string* why) {
    Config cfg;
    if (!ReadConfig(&cfg, why)) return MMSYSERR_NODRIVER;
    std::vector<BYTE> file;
    if (dir == Direction::Capture && cfg.source == Config::Source::File) {
        WAVEFORMATEX ff{};
        if (!ReadWavFile(cfg.sourcePath, &ff, &file)) {
            *why = "the source " + cfg.sourcePath + " is not a PCM WAV file that can be read";
            return MMSYSERR_NODRIVER;
        }
        if (ff.nChannels != fmt.nChannels || ff.nSamplesPerSec != fmt.nSamplesPerSec ||
            ff.wBitsPerSample != fmt.wBitsPerSample)
            return WAVERR_BADFORMAT;
    }
    if (!out) return MMSYSERR_NOERROR;
    std::shared_ptr<WaveClock> clock;
    {
        std::lock_guard l(g_clockMu);
        clock = g_clock;
    }
    if (!clock) clock = MakeRealClock(cfg.speed);
    auto ep = std::make_unique<VirtualEndpoint>(dir, fmt, cfg, std::move(clock), std::move(file));
    if (dir == Direction::Playback && !ep->OpenSink()) {
        *why = "the sink " + cfg.sinkPath + " cannot be written: " + std::strerror(errno);
        return MMSYSERR_NODRIVER;
    }
    *out = std::move(ep);
    return MMSYSERR_NOERROR;
}

void ListVirtual(Direction, std::vector<platform::WaveDeviceEntry>* out) {
    out->push_back({"virtual", "the virtual device (TALREC_VIRTUAL_SOURCE, TALREC_VIRTUAL_SINK)"});
}

std::string VirtualProductName(const std::string&) {
    return "talrec virtual device";
}

}  // namespace

const Backend kVirtualBackend{"virtual", nullptr, OpenVirtual, ListVirtual, VirtualProductName};

}  // namespace talrec::wave
