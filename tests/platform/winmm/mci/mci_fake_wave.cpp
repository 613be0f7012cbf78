#include "tests/platform/winmm/mci/mci_fake_wave.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/mmwave.h"
#include "platform/winmm/wave_stream.h"

struct HWAVEOUT__ {
    WAVEFORMATEX format{};
    talrec::wave::OutputCallback callback = nullptr;
    DWORD_PTR instance = 0;
    std::deque<WAVEHDR*> queue;  // guarded by the fake's mutex
    std::size_t headOffset = 0;
    std::uint64_t played = 0;
    bool paused = false;
    bool closing = false;
    bool resetting = false;
    std::thread thread;
};

namespace {

std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<std::uint8_t> g_captured;
std::uint64_t g_budget = 0;  // frames the device may still play
int g_opens = 0;
int g_open = 0;
int g_lastBits = 0, g_lastRate = 0, g_lastChannels = 0;
bool g_only16 = false;
int g_writesLeft = -1;
bool g_refuseOpen = false;

bool Takes(const WAVEFORMATEX& f) {
    return f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2) &&
           (f.wBitsPerSample == 16 || (f.wBitsPerSample == 8 && !g_only16)) &&
           f.nSamplesPerSec >= 4000 && f.nSamplesPerSec <= 192000;
}

void Deliver(HWAVEOUT h, WAVEHDR* hdr) {
    hdr->dwFlags = (hdr->dwFlags | WHDR_DONE) & ~WHDR_INQUEUE;
    h->callback(h, WOM_DONE, h->instance, reinterpret_cast<DWORD_PTR>(hdr), 0);
}

// The device thread: plays the budget out of the queue, hands finished buffers back.
void Play(HWAVEOUT h) {
    std::unique_lock lock(g_mutex);
    for (;;) {
        g_changed.wait(lock, [h] {
            return h->closing || h->resetting || (!h->paused && g_budget > 0 && !h->queue.empty());
        });
        if (h->resetting) {
            while (!h->queue.empty()) {
                WAVEHDR* hdr = h->queue.front();
                h->queue.pop_front();
                lock.unlock();
                Deliver(h, hdr);
                lock.lock();
            }
            h->headOffset = 0;
            h->played = 0;
            h->resetting = false;
            g_changed.notify_all();
            continue;
        }
        if (h->closing) return;
        WAVEHDR* hdr = h->queue.front();
        const std::size_t block = h->format.nBlockAlign;
        const std::size_t left = hdr->dwBufferLength - h->headOffset;
        const std::size_t bytes = std::min<std::size_t>(left, g_budget * block);
        g_captured.insert(g_captured.end(), hdr->lpData + h->headOffset,
                          hdr->lpData + h->headOffset + bytes);
        h->headOffset += bytes;
        h->played += bytes / block;
        g_budget -= bytes / block;
        if (h->headOffset == hdr->dwBufferLength) {
            h->queue.pop_front();
            h->headOffset = 0;
            lock.unlock();
            Deliver(h, hdr);
            lock.lock();
        }
        g_changed.notify_all();
    }
}

}  // namespace

namespace fakewave {

void Reset() {
    std::lock_guard lock(g_mutex);
    g_captured.clear();
    g_budget = 0;
    g_opens = 0;
    g_only16 = false;
    g_writesLeft = -1;
    g_refuseOpen = false;
}

void Advance(std::uint64_t frames) {
    std::unique_lock lock(g_mutex);
    g_budget += frames;
    g_changed.notify_all();
    // Done when the budget is spent, or when nothing has been played for a while (the sound
    // has ended, or the device is paused).
    while (g_budget > 0) {
        const std::uint64_t before = g_budget;
        if (!g_changed.wait_for(lock, std::chrono::milliseconds(300),
                                [before] { return g_budget < before; })) {
            break;
        }
    }
    g_budget = 0;
}

std::vector<std::uint8_t> Captured() {
    std::lock_guard lock(g_mutex);
    return g_captured;
}
int OpenCount() {
    std::lock_guard lock(g_mutex);
    return g_opens;
}
bool AnyOpen() {
    std::lock_guard lock(g_mutex);
    return g_open > 0;
}
int LastBits() {
    std::lock_guard lock(g_mutex);
    return g_lastBits;
}
int LastRate() {
    std::lock_guard lock(g_mutex);
    return g_lastRate;
}
int LastChannels() {
    std::lock_guard lock(g_mutex);
    return g_lastChannels;
}
void AcceptOnly16Bit(bool on) {
    std::lock_guard lock(g_mutex);
    g_only16 = on;
}
void FailWritesAfter(int writes) {
    std::lock_guard lock(g_mutex);
    g_writesLeft = writes;
}
void RefuseOpen(bool on) {
    std::lock_guard lock(g_mutex);
    g_refuseOpen = on;
}

}  // namespace fakewave

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen) {
    std::unique_lock lock(g_mutex);
    if (!Takes(*pwfx)) return WAVERR_BADFORMAT;
    if ((fdwOpen & WAVE_FORMAT_QUERY) != 0) return MMSYSERR_NOERROR;
    if (g_refuseOpen) return MMSYSERR_ALLOCATED;
    auto* h = new HWAVEOUT__;
    h->format = *pwfx;
    h->callback = reinterpret_cast<talrec::wave::OutputCallback>(dwCallback);
    h->instance = dwInstance;
    ++g_opens;
    ++g_open;
    g_lastBits = pwfx->wBitsPerSample;
    g_lastRate = static_cast<int>(pwfx->nSamplesPerSec);
    g_lastChannels = pwfx->nChannels;
    h->thread = std::thread(Play, h);
    *phwo = h;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT h) {
    {
        std::lock_guard lock(g_mutex);
        if (!h->queue.empty()) return WAVERR_STILLPLAYING;
        h->closing = true;
        --g_open;
    }
    g_changed.notify_all();
    h->thread.join();
    delete h;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT, LPWAVEHDR pwh, UINT) {
    pwh->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT, LPWAVEHDR pwh, UINT) {
    std::lock_guard lock(g_mutex);
    if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT h, LPWAVEHDR pwh, UINT) {
    std::lock_guard lock(g_mutex);
    if ((pwh->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if (g_writesLeft == 0) return MMSYSERR_ERROR;
    if (g_writesLeft > 0) --g_writesLeft;
    pwh->dwFlags = (pwh->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
    h->queue.push_back(pwh);
    g_changed.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT h) {
    std::lock_guard lock(g_mutex);
    h->paused = true;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT h) {
    std::lock_guard lock(g_mutex);
    h->paused = false;
    g_changed.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT h) {
    std::unique_lock lock(g_mutex);
    h->resetting = true;
    h->paused = false;
    g_changed.notify_all();
    g_changed.wait(lock, [h] { return !h->resetting; });
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetPosition(HWAVEOUT h, LPMMTIME pmmt, UINT) {
    std::lock_guard lock(g_mutex);
    pmmt->wType = TIME_SAMPLES;
    pmmt->u.sample = static_cast<DWORD>(h->played);
    return MMSYSERR_NOERROR;
}
