// Helpers of the wave-audio tests: formats, environment settings, and a recorder of the
// callbacks a device makes.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/debugapi.h"
#include "platform/ext/hosthooks.h"
#include "platform/mmwave.h"

namespace wavetest {

inline WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits) {
    const WORD align = static_cast<WORD>(channels * bits / 8);
    return WAVEFORMATEX{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

// Sets an environment variable for one scope (tests of one program run one at a time).
class EnvVar {
  public:
    EnvVar(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~EnvVar() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// Collects the debug output of one scope (any thread), through the containers' hook.
class DebugLines {
  public:
    DebugLines() { SetDebugOutputHook(&DebugLines::Hook, this); }
    ~DebugLines() { SetDebugOutputHook(nullptr, nullptr); }
    DebugLines(const DebugLines&) = delete;
    DebugLines& operator=(const DebugLines&) = delete;

    std::vector<std::string> Take() {
        std::lock_guard l(mu_);
        return std::exchange(lines_, {});
    }

  private:
    // A text written for an owner (SetThreadDebugOwner) ends with " of OWNER".
    static void Hook(const char* text, void* self) {
        auto* d = static_cast<DebugLines*>(self);
        const ULONGLONG owner = GetThreadDebugOwner();
        std::lock_guard l(d->mu_);
        d->lines_.emplace_back(text + (owner != 0 ? " of " + std::to_string(owner) : ""));
    }
    std::mutex mu_;
    std::vector<std::string> lines_;
};

// What a callback saw: the message, the header and its byte count at that moment.
struct Event {
    UINT msg;
    WAVEHDR* hdr;
    DWORD bytes;
    std::vector<BYTE> data;  // capture: the recorded bytes
};

// Collects the callbacks of one device. Pass CallbackIn/CallbackOut with `this` as instance.
// `onData` runs on the device thread for each WIM_DATA / WOM_DONE, after it is recorded.
class Recorder {
  public:
    std::function<void(WAVEHDR*)> onData;

    static void InCallback(HWAVEIN, UINT msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR) {
        reinterpret_cast<Recorder*>(inst)->Record(msg, reinterpret_cast<WAVEHDR*>(p1));
    }
    static void OutCallback(HWAVEOUT, UINT msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR) {
        reinterpret_cast<Recorder*>(inst)->Record(msg, reinterpret_cast<WAVEHDR*>(p1));
    }
    DWORD_PTR InProc() const { return reinterpret_cast<DWORD_PTR>(&InCallback); }
    DWORD_PTR OutProc() const { return reinterpret_cast<DWORD_PTR>(&OutCallback); }
    DWORD_PTR Instance() { return reinterpret_cast<DWORD_PTR>(this); }

    // Waits until `n` data messages have come (false after `timeout`).
    bool WaitData(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock l(mu_);
        return cv_.wait_for(l, timeout, [&] { return DataCountLocked() >= n; });
    }
    std::size_t DataCount() {
        std::lock_guard l(mu_);
        return DataCountLocked();
    }
    std::vector<Event> Events() {
        std::lock_guard l(mu_);
        return events_;
    }
    std::vector<Event> Data() {
        std::lock_guard l(mu_);
        std::vector<Event> d;
        for (const Event& e : events_)
            if (e.msg == WIM_DATA || e.msg == WOM_DONE) d.push_back(e);
        return d;
    }
    // The bytes of every capture buffer handed back, joined in order.
    std::vector<BYTE> Joined() {
        std::vector<BYTE> all;
        for (const Event& e : Data()) all.insert(all.end(), e.data.begin(), e.data.end());
        return all;
    }

  private:
    void Record(UINT msg, WAVEHDR* h) {
        Event e{msg, h, 0, {}};
        if (h) {
            e.bytes = msg == WIM_DATA ? h->dwBytesRecorded : h->dwBufferLength;
            if (msg == WIM_DATA) e.data.assign(h->lpData, h->lpData + h->dwBytesRecorded);
        }
        {
            std::lock_guard l(mu_);
            events_.push_back(std::move(e));
        }
        if (h && onData) onData(h);
        cv_.notify_all();
    }
    std::size_t DataCountLocked() const {
        std::size_t n = 0;
        for (const Event& e : events_) n += e.msg == WIM_DATA || e.msg == WOM_DONE;
        return n;
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Event> events_;
};

// A capture or playback buffer with its own storage.
struct Buffer {
    explicit Buffer(std::size_t bytes) : data(bytes) {
        hdr.lpData = reinterpret_cast<LPSTR>(data.data());
        hdr.dwBufferLength = static_cast<DWORD>(bytes);
    }
    DWORD Flags() const { return std::atomic_ref<DWORD>(const_cast<DWORD&>(hdr.dwFlags)).load(); }
    std::vector<BYTE> data;
    WAVEHDR hdr{};
};

inline constexpr UINT kHdr = sizeof(WAVEHDR);

// Prepares each buffer and adds it to the capture device's queue.
inline void Queue(HWAVEIN in, std::initializer_list<Buffer*> buffers) {
    for (Buffer* b : buffers) {
        ASSERT_EQ(waveInPrepareHeader(in, &b->hdr, kHdr), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(in, &b->hdr, kHdr), MMSYSERR_NOERROR);
    }
}
// Prepares each buffer and writes it to the playback device.
inline void Write(HWAVEOUT out, std::initializer_list<Buffer*> buffers) {
    for (Buffer* b : buffers) {
        ASSERT_EQ(waveOutPrepareHeader(out, &b->hdr, kHdr), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(out, &b->hdr, kHdr), MMSYSERR_NOERROR);
    }
}

// Writes a 44-byte-header PCM WAV file.
void WriteWav(const std::string& path, const WAVEFORMATEX& fmt, const std::vector<BYTE>& data);
// Reads the data of a 44-byte-header WAV file written by the virtual sink.
std::vector<BYTE> ReadWavData(const std::string& path, WAVEFORMATEX* fmt = nullptr);
// 16-bit samples counting up from `first`, wrapping.
std::vector<BYTE> Counting16(std::size_t samples, std::uint16_t first = 0);
// A scratch file path unique to this process and name; the folder goes when the process ends.
std::string ScratchPath(const std::string& name);

}  // namespace wavetest
