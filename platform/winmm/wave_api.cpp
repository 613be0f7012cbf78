// The front of the wave-audio service: handles, argument and header checks, the choice of
// backend. Every device call below runs on the caller's thread and hands device work to the
// device's Stream.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/debugapi.h"
#include "platform/ext/virtualwave.h"
#include "platform/ext/wavedevices.h"
#include "platform/ext/wavformat.h"
#include "platform/mmwave.h"
#include "platform/winmm/wave_probe.h"
#include "platform/winmm/wave_stream.h"

namespace talrec::wave {

namespace {

// Handles are keys into this table, never pointers: a stale or foreign handle is looked up
// and refused. Never destroyed, as the media devices' table is not: a stream still open at
// exit (a device its owner did not close) is not torn down while the services it uses shut
// down, nor under a thread that still drives it.
std::mutex g_tableMu;
std::unordered_map<std::uintptr_t, std::shared_ptr<Stream>>& g_streams =
    *new std::unordered_map<std::uintptr_t, std::shared_ptr<Stream>>;
std::uintptr_t g_nextHandle = 0x1000;

std::shared_ptr<Stream> Find(const void* handle, Direction dir) {
    std::lock_guard l(g_tableMu);
    auto it = g_streams.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == g_streams.end() || it->second->direction() != dir) return nullptr;
    return it->second;
}

DWORD LoadFlags(const WAVEHDR* h) {
    return std::atomic_ref<DWORD>(const_cast<DWORD&>(h->dwFlags)).load(std::memory_order_acquire);
}
void StoreFlags(WAVEHDR* h, DWORD flags) {
    std::atomic_ref<DWORD>(h->dwFlags).store(flags, std::memory_order_release);
}

bool IsPcmFormat(const WAVEFORMATEX& f) {
    if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16 && f.wBitsPerSample != 24 &&
        f.wBitsPerSample != 32)
        return false;
    if (f.nChannels == 0 || f.nSamplesPerSec == 0) return false;
    const DWORD align = static_cast<DWORD>(f.nChannels) * f.wBitsPerSample / 8;
    return f.nBlockAlign == align && f.nAvgBytesPerSec == f.nSamplesPerSec * align;
}

// The debug output's words for a format record.
std::string Describe(const WAVEFORMATEX& f) {
    std::string text = std::to_string(f.nChannels) + " channels, " +
                       std::to_string(f.nSamplesPerSec) + " Hz, " +
                       std::to_string(f.wBitsPerSample) + " bits";
    if (f.wFormatTag != WAVE_FORMAT_PCM) text = "tag " + std::to_string(f.wFormatTag) + ", " + text;
    return text;
}

// One line on the debug output for an open or a format query that failed (not for a probe):
// which device, and what its backend said, or which format it refused.
void ReportOpenFailure(Direction dir, const Selection& s, const WAVEFORMATEX& f, MMRESULT r,
                       const std::string& why) {
    if (WaveProbe::Active()) return;
    std::string line = dir == Direction::Capture ? "waveInOpen: " : "waveOutOpen: ";
    if (!s.backend) {
        line +=
            "TALREC_WAVE_DEVICE=" + s.setting + " names no device (known: " + KnownSettings() + ")";
    } else if (r == WAVERR_BADFORMAT) {
        line += s.setting + " refuses the format " + Describe(f);
    } else {
        char text[MAXERRORLENGTH] = "";
        waveOutGetErrorTextA(r, text, MAXERRORLENGTH);
        line += s.setting + " does not open (" + (why.empty() ? text : why) + ")";
    }
    OutputDebugStringA(line.c_str());
}

// Opens (out non-null) or checks the device that TALREC_WAVE_DEVICE selects, reporting a
// failure when asked to. *device receives the setting that selected it.
MMRESULT OpenBackend(Direction dir, const WAVEFORMATEX& f, std::unique_ptr<Endpoint>* out,
                     bool report, std::string* device = nullptr) {
    const Selection s = SelectDevice();
    if (device) *device = s.setting;
    std::string why;
    const MMRESULT r = s.backend ? s.backend->open(s.device, dir, f, out, &why) : MMSYSERR_NODRIVER;
    if (r != MMSYSERR_NOERROR && report) ReportOpenFailure(dir, s, f, r, why);
    return r;
}

constexpr DWORD kCallbackMask = 0x00070000;
constexpr DWORD kKnownFlags = WAVE_FORMAT_QUERY | 0x0002 /* WAVE_ALLOWSYNC */ |
                              0x0004 /* WAVE_MAPPED */ | 0x0008 /* WAVE_FORMAT_DIRECT */ |
                              kCallbackMask;

MMRESULT Open(Direction dir, void** handle, UINT device, LPCWAVEFORMATEX pwfx, DWORD_PTR proc,
              DWORD_PTR instance, DWORD flags) {
    if (!pwfx) return MMSYSERR_INVALPARAM;
    if (flags & ~kKnownFlags) return MMSYSERR_INVALFLAG;
    const DWORD callback = flags & kCallbackMask;
    if (callback != CALLBACK_NULL && callback != CALLBACK_FUNCTION) {
        // Window, thread and event callbacks have no stand-in here.
        return callback <= 0x00050000 ? MMSYSERR_NOTSUPPORTED : MMSYSERR_INVALFLAG;
    }
    if (callback == CALLBACK_FUNCTION && proc == 0) return MMSYSERR_INVALPARAM;
    if (device != WAVE_MAPPER && device != 0) return MMSYSERR_BADDEVICEID;
    WAVEFORMATEX fmt;
    std::memcpy(&fmt, pwfx, sizeof fmt);
    if (!IsPcmFormat(fmt)) {
        ReportOpenFailure(dir, SelectDevice(), fmt, WAVERR_BADFORMAT, {});
        return WAVERR_BADFORMAT;
    }
    const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
    if (query) return OpenBackend(dir, fmt, nullptr, true);
    if (!handle) return MMSYSERR_INVALPARAM;

    std::unique_ptr<Endpoint> ep;
    std::string setting;
    if (const MMRESULT r = OpenBackend(dir, fmt, &ep, true, &setting); r != MMSYSERR_NOERROR)
        return r;
    std::shared_ptr<Stream> stream;
    void* h = nullptr;
    {
        std::lock_guard l(g_tableMu);
        h = reinterpret_cast<HWAVEIN__*>(g_nextHandle++);
        Callback cb;
        if (callback == CALLBACK_FUNCTION) {
            if (dir == Direction::Capture) {
                cb.in = reinterpret_cast<InputCallback>(proc);
            } else {
                cb.out = reinterpret_cast<OutputCallback>(proc);
            }
            cb.handle = h;
            cb.instance = instance;
        }
        stream = std::make_shared<Stream>(dir, fmt, std::move(ep), cb, setting);
        g_streams.emplace(reinterpret_cast<std::uintptr_t>(h), stream);
    }
    *handle = h;
    stream->Launch();
    return MMSYSERR_NOERROR;
}

MMRESULT Close(Direction dir, void* handle) {
    auto s = Find(handle, dir);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (const MMRESULT r = s->Close(); r != MMSYSERR_NOERROR) return r;
    std::lock_guard l(g_tableMu);
    g_streams.erase(reinterpret_cast<std::uintptr_t>(handle));
    return MMSYSERR_NOERROR;
}

MMRESULT CheckHeader(const WAVEHDR* pwh, UINT cbwh) {
    if (!pwh || cbwh != sizeof(WAVEHDR) || !pwh->lpData) return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

MMRESULT Prepare(Direction dir, void* handle, LPWAVEHDR pwh, UINT cbwh) {
    if (!Find(handle, dir)) return MMSYSERR_INVALHANDLE;
    if (const MMRESULT r = CheckHeader(pwh, cbwh); r != MMSYSERR_NOERROR) return r;
    StoreFlags(pwh, LoadFlags(pwh) | WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT Unprepare(Direction dir, void* handle, LPWAVEHDR pwh, UINT cbwh) {
    if (!Find(handle, dir)) return MMSYSERR_INVALHANDLE;
    if (const MMRESULT r = CheckHeader(pwh, cbwh); r != MMSYSERR_NOERROR) return r;
    const DWORD flags = LoadFlags(pwh);
    if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    StoreFlags(pwh, flags & ~WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT Queue(Direction dir, void* handle, LPWAVEHDR pwh, UINT cbwh) {
    auto s = Find(handle, dir);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (const MMRESULT r = CheckHeader(pwh, cbwh); r != MMSYSERR_NOERROR) return r;
    const DWORD flags = LoadFlags(pwh);
    if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    return s->Add(pwh);
}

template <class F>
MMRESULT WithStream(Direction dir, void* handle, F f) {
    auto s = Find(handle, dir);
    if (!s) return MMSYSERR_INVALHANDLE;
    return f(*s);
}

MMRESULT GetPosition(Direction dir, void* handle, LPMMTIME pmmt, UINT cbmmt) {
    auto s = Find(handle, dir);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (!pmmt || cbmmt < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
    DWORD frames = 0;
    if (const MMRESULT r = s->Position(&frames); r != MMSYSERR_NOERROR) return r;
    const WAVEFORMATEX& f = s->format();
    switch (pmmt->wType) {
        case TIME_BYTES:
            pmmt->u.cb = frames * f.nBlockAlign;
            break;
        case TIME_MS:
            pmmt->u.ms =
                static_cast<DWORD>(static_cast<std::uint64_t>(frames) * 1000 / f.nSamplesPerSec);
            break;
        default:
            // Other time formats are not kept; the answer comes in samples, as on Windows.
            pmmt->wType = TIME_SAMPLES;
            pmmt->u.sample = frames;
            break;
    }
    return MMSYSERR_NOERROR;
}

constexpr struct {
    DWORD flag;
    DWORD rate;
    WORD channels;
    WORD bits;
} kStandardFormats[] = {
    {WAVE_FORMAT_1M08, 11025, 1, 8},  {WAVE_FORMAT_1S08, 11025, 2, 8},
    {WAVE_FORMAT_1M16, 11025, 1, 16}, {WAVE_FORMAT_1S16, 11025, 2, 16},
    {WAVE_FORMAT_2M08, 22050, 1, 8},  {WAVE_FORMAT_2S08, 22050, 2, 8},
    {WAVE_FORMAT_2M16, 22050, 1, 16}, {WAVE_FORMAT_2S16, 22050, 2, 16},
    {WAVE_FORMAT_4M08, 44100, 1, 8},  {WAVE_FORMAT_4S08, 44100, 2, 8},
    {WAVE_FORMAT_4M16, 44100, 1, 16}, {WAVE_FORMAT_4S16, 44100, 2, 16},
};

// Fills the fields that both capability records share.
MMRESULT GetCaps(Direction dir, UINT_PTR device, CHAR (&name)[MAXPNAMELEN], DWORD* formats,
                 WORD* channels) {
    if (device != WAVE_MAPPER && device != 0) return MMSYSERR_BADDEVICEID;
    const Selection s = SelectDevice();
    if (!s.backend) return MMSYSERR_NODRIVER;
    const std::string n = s.backend->productName(s.device);
    std::memset(name, 0, sizeof name);
    std::memcpy(name, n.data(), std::min<std::size_t>(n.size(), MAXPNAMELEN - 1));
    *formats = 0;
    *channels = 0;
    for (const auto& sf : kStandardFormats) {
        const WAVEFORMATEX f = MakePcmFormat(sf.channels, sf.rate, sf.bits);
        if (OpenBackend(dir, f, nullptr, false) == MMSYSERR_NOERROR) {
            *formats |= sf.flag;
            *channels = std::max(*channels, sf.channels);
        }
    }
    return MMSYSERR_NOERROR;
}

UINT NumDevs() {
    return SelectDevice().backend ? 1 : 0;
}

}  // namespace

bool WaitUntilDevicesIdle(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::vector<std::shared_ptr<Stream>> open;
        {
            std::lock_guard l(g_tableMu);
            for (const auto& [handle, stream] : g_streams) open.push_back(stream);
        }
        if (std::all_of(open.begin(), open.end(), [](const auto& s) { return s->Settled(); }))
            return true;
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

}  // namespace talrec::wave

using talrec::wave::Direction;
namespace w = talrec::wave;

UINT waveInGetNumDevs() {
    return w::NumDevs();
}
UINT waveOutGetNumDevs() {
    return w::NumDevs();
}

MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, LPWAVEINCAPSA pwic, UINT cbwic) {
    if (!pwic || cbwic < sizeof(WAVEINCAPSA)) return MMSYSERR_INVALPARAM;
    std::memset(pwic, 0, sizeof *pwic);
    pwic->vDriverVersion = 0x0100;
    return w::GetCaps(Direction::Capture, uDeviceID, pwic->szPname, &pwic->dwFormats,
                      &pwic->wChannels);
}

MMRESULT waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc) {
    if (!pwoc || cbwoc < sizeof(WAVEOUTCAPSA)) return MMSYSERR_INVALPARAM;
    std::memset(pwoc, 0, sizeof *pwoc);
    pwoc->vDriverVersion = 0x0100;
    pwoc->dwSupport = 0x0020;  // WAVECAPS_SAMPLEACCURATE
    return w::GetCaps(Direction::Playback, uDeviceID, pwoc->szPname, &pwoc->dwFormats,
                      &pwoc->wChannels);
}

MMRESULT waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen) {
    return w::Open(Direction::Capture, reinterpret_cast<void**>(phwi), uDeviceID, pwfx, dwCallback,
                   dwInstance, fdwOpen);
}
MMRESULT waveInClose(HWAVEIN hwi) {
    return w::Close(Direction::Capture, hwi);
}
MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    return w::Prepare(Direction::Capture, hwi, pwh, cbwh);
}
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    return w::Unprepare(Direction::Capture, hwi, pwh, cbwh);
}
MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
    return w::Queue(Direction::Capture, hwi, pwh, cbwh);
}
MMRESULT waveInStart(HWAVEIN hwi) {
    return w::WithStream(Direction::Capture, hwi, [](w::Stream& s) { return s.Start(); });
}
MMRESULT waveInStop(HWAVEIN hwi) {
    return w::WithStream(Direction::Capture, hwi, [](w::Stream& s) { return s.Stop(); });
}
MMRESULT waveInReset(HWAVEIN hwi) {
    return w::WithStream(Direction::Capture, hwi, [](w::Stream& s) { return s.Reset(); });
}
MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME pmmt, UINT cbmmt) {
    return w::GetPosition(Direction::Capture, hwi, pmmt, cbmmt);
}

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen) {
    return w::Open(Direction::Playback, reinterpret_cast<void**>(phwo), uDeviceID, pwfx, dwCallback,
                   dwInstance, fdwOpen);
}
MMRESULT waveOutClose(HWAVEOUT hwo) {
    return w::Close(Direction::Playback, hwo);
}
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    return w::Prepare(Direction::Playback, hwo, pwh, cbwh);
}
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    return w::Unprepare(Direction::Playback, hwo, pwh, cbwh);
}
MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    return w::Queue(Direction::Playback, hwo, pwh, cbwh);
}
MMRESULT waveOutPause(HWAVEOUT hwo) {
    return w::WithStream(Direction::Playback, hwo, [](w::Stream& s) { return s.Pause(); });
}
MMRESULT waveOutRestart(HWAVEOUT hwo) {
    return w::WithStream(Direction::Playback, hwo, [](w::Stream& s) { return s.Restart(); });
}
MMRESULT waveOutReset(HWAVEOUT hwo) {
    return w::WithStream(Direction::Playback, hwo, [](w::Stream& s) { return s.Reset(); });
}
MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt) {
    return w::GetPosition(Direction::Playback, hwo, pmmt, cbmmt);
}

MMRESULT waveInGetXruns(HWAVEIN hwi, DWORD* pdwXruns) {
    return w::WithStream(Direction::Capture, hwi, [&](w::Stream& s) {
        if (!pdwXruns) return MMSYSERR_INVALPARAM;
        *pdwXruns = s.Xruns();
        return MMSYSERR_NOERROR;
    });
}
MMRESULT waveOutGetXruns(HWAVEOUT hwo, DWORD* pdwXruns) {
    return w::WithStream(Direction::Playback, hwo, [&](w::Stream& s) {
        if (!pdwXruns) return MMSYSERR_INVALPARAM;
        *pdwXruns = s.Xruns();
        return MMSYSERR_NOERROR;
    });
}
