#include "audio/WaveIn.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr UINT kHeaderSize = sizeof(WAVEHDR);
constexpr DWORD kMaxLevel = 9000;

DWORD Flags(const WAVEHDR& h) {
    return std::atomic_ref<DWORD>(const_cast<DWORD&>(h.dwFlags)).load(std::memory_order_acquire);
}
void SetFlags(WAVEHDR& h, DWORD flags) {
    std::atomic_ref<DWORD>(h.dwFlags).store(flags, std::memory_order_release);
}

DWORD Magnitude(const BYTE* p) {
    const int s = static_cast<std::int16_t>(p[0] | p[1] << 8);
    return static_cast<DWORD>(s < 0 ? -s : s);
}

// Mean absolute value of the block read as signed 16-bit little-endian samples, whatever the
// format, capped at kMaxLevel. The sum fits 32 bits for blocks under 262144 bytes. Eight
// partial sums let the compiler keep eight samples in flight: this runs for every buffer.
DWORD Level(const BYTE* data, DWORD bytes) {
    const DWORD n = bytes / 2;
    DWORD partial[8] = {};
    DWORD i = 0;
    for (; i + 8 <= n; i += 8) {
        for (DWORD j = 0; j < 8; ++j) partial[j] += Magnitude(data + 2 * (i + j));
    }
    DWORD sum = 0;
    for (DWORD p : partial) sum += p;
    for (; i < n; ++i) sum += Magnitude(data + 2 * i);
    const DWORD level = sum / n;
    return level > kMaxLevel ? kMaxLevel : level;
}

}  // namespace

CWaveIn::CWaveIn() = default;

CWaveIn::CWaveIn(WAVEFORMATEX format, const CWaveDevice& device) {
    SetFormat(format);
    SetDevice(device);
}

CWaveIn::~CWaveIn() {
    Close();
    DropStore();
    FreeBlocks();
}

void CWaveIn::SetFormat(WAVEFORMATEX format) {
    format_.SetFormat(format.nChannels, format.nSamplesPerSec, format.wBitsPerSample);
}

bool CWaveIn::Open() {
    const WAVEFORMATEX format = format_.GetFormat();
    const MMRESULT r =
        waveInOpen(&handle_, device_.GetDevice(), &format,
                   reinterpret_cast<DWORD_PTR>(&CWaveIn::WaveInProc), 0, CALLBACK_FUNCTION);
    lastError_ = r;
    if (r != MMSYSERR_NOERROR) handle_ = nullptr;
    return r == MMSYSERR_NOERROR;
}

bool CWaveIn::Record(DWORD nBufferBytes, const std::string& destination) {
    if (!Reset()) return false;
    stopping_ = false;
    DropStore();
    FreeBlocks();
    SetFormat(format_.GetFormat());
    store_ = TakeStore::Create(destination, format_.GetFormat());
    storeHandle_.store(store_.get(), std::memory_order_release);
    currentHeader_ = 1;
    bufferBytes_ = nBufferBytes;
    if (!QueueNext(handle_) || !QueueNext(handle_)) return false;
    const MMRESULT r = waveInStart(handle_);
    lastError_ = r;
    return r == MMSYSERR_NOERROR;
}

bool CWaveIn::Pause() {
    if (!handle_) return true;
    const MMRESULT r = waveInStop(handle_);
    lastError_ = r;
    return r == MMSYSERR_NOERROR;
}

bool CWaveIn::Continue() {
    if (!handle_) return true;
    const MMRESULT r = waveInStart(handle_);
    lastError_ = r;
    return r == MMSYSERR_NOERROR;
}

bool CWaveIn::Reset() {
    if (!handle_) return true;
    stopping_ = true;
    // A callback that read stopping_ just before it was raised may still be queueing its next
    // buffer. Linux's wave service carries the reset out on the device thread, after that
    // callback has returned, so the reset hands the buffer back anyway; Windows' waveInReset
    // makes no such promise about a callback already running on the system's thread. The
    // pause lets that callback finish first, so the buffer is not left queued after the reset
    // (waveInClose would then refuse with WAVERR_STILLPLAYING). It does not replace the
    // reset's own wait for the callbacks of the buffers it hands back.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const MMRESULT r = waveInReset(handle_);
    lastError_ = r;
    return r == MMSYSERR_NOERROR;
}

bool CWaveIn::Close() {
    if (!handle_) return true;
    if (!Reset()) return false;
    const MMRESULT r = waveInClose(handle_);
    lastError_ = r;
    if (r != MMSYSERR_NOERROR) return false;
    handle_ = nullptr;
    return true;
}

void CWaveIn::KeepForRecovery(const std::string& destination) {
    if (!Close()) return;  // the device may still append: the store cannot be let go
    if (store_) store_->KeepForRecovery(destination, format_.GetFormat());
}

int CWaveIn::GetNumSamples() {
    return store_ ? static_cast<int>(store_->Frames()) : 0;
}

CWave CWaveIn::GetWave() {
    // Everything appended until now becomes the sound; the store stays the engine's until the
    // next Record (a spool is shared, frames in memory are joined into a copy).
    const WORD align = format_.GetFormat().nBlockAlign;
    format_.SetStore(store_ ? store_->Snapshot() : MemoryTakeStore(align).Snapshot());
    // The sound is moved out rather than copied: nothing reads it in the engine (the next
    // Record empties it, and a second GetWave takes the frames again), so a copy would only
    // add a third image of the recording to memory at the stop.
    return std::move(format_);
}

int CWaveIn::GetPosition() {
    if (!handle_) return -1;
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    const MMRESULT r = waveInGetPosition(handle_, &time, sizeof(MMTIME));
    lastError_ = r;
    if (r != MMSYSERR_NOERROR) return -1;
    return static_cast<int>(time.u.sample);
}

std::string CWaveIn::GetErrorText() const {
    const MMRESULT error = lastError_;
    if (error == MMSYSERR_NOERROR) return {};
    char text[MAXERRORLENGTH];
    if (waveInGetErrorTextA(error, text, MAXERRORLENGTH) != MMSYSERR_NOERROR) return {};
    return text;
}

bool CWaveIn::IsRecording() const {
    const int current = currentHeader_;
    if (current < 0) return false;
    const DWORD flags = Flags(headers_[current]);
    return flags != 0 && !(flags & WHDR_DONE);
}

// Owner's thread (from Record) or device thread (from the callback).
bool CWaveIn::QueueNext(HWAVEIN hwi) {
    const int next = currentHeader_ == 1 ? 0 : currentHeader_ + 1;
    currentHeader_ = next;
    WAVEHDR& hdr = headers_[next];
    if (!hdr.lpData) hdr.lpData = new char[bufferBytes_];
    std::memset(hdr.lpData, 0, bufferBytes_);
    hdr.dwBufferLength = bufferBytes_;
    hdr.dwUser = reinterpret_cast<DWORD_PTR>(this);
    SetFlags(hdr, 0);
    MMRESULT r = waveInPrepareHeader(hwi, &hdr, kHeaderSize);
    lastError_ = r;
    if (r != MMSYSERR_NOERROR) return false;
    r = waveInAddBuffer(hwi, &hdr, kHeaderSize);
    lastError_ = r;
    return r == MMSYSERR_NOERROR;
}

// Device thread.
void CALLBACK CWaveIn::WaveInProc(HWAVEIN hwi, UINT uMsg, DWORD_PTR, DWORD_PTR dwParam1,
                                  DWORD_PTR) {
    if (uMsg != WIM_DATA) return;
    auto* hdr = reinterpret_cast<WAVEHDR*>(dwParam1);
    if (!hdr || !hwi || !hdr->dwUser) return;
    reinterpret_cast<CWaveIn*>(hdr->dwUser)->OnData(hwi, hdr);
}

// Device thread: keeps what the buffer holds, reports its level, and queues the next buffer
// unless capture is ending.
void CWaveIn::OnData(HWAVEIN hwi, WAVEHDR* hdr) {
    if (Flags(*hdr) & WHDR_DONE) {
        const DWORD bytes = hdr->dwBytesRecorded;
        if (bytes >= 2) {
            PostMessageA(window_.load(), WM_WAVE_LEVEL,
                         Level(reinterpret_cast<const BYTE*>(hdr->lpData), bytes), 0);
        }
        const MMRESULT r = waveInUnprepareHeader(hwi, hdr, kHeaderSize);
        lastError_ = r;
        if (r != MMSYSERR_NOERROR) return;
        SetFlags(*hdr, 0);
        if (bytes > 0) {
            if (auto* store = storeHandle_.load(std::memory_order_acquire)) {
                // Whole frames only.
                const WORD align = format_.GetFormat().nBlockAlign;
                store->Append(reinterpret_cast<const BYTE*>(hdr->lpData), bytes / align * align);
            }
        }
        // The block stays with its header and carries the next buffer.
    }
    if (!stopping_) QueueNext(hwi);
}

void CWaveIn::DropStore() {
    storeHandle_ = nullptr;
    store_.reset();
}

void CWaveIn::FreeBlocks() {
    for (WAVEHDR& hdr : headers_) {
        delete[] hdr.lpData;
        hdr.lpData = nullptr;
    }
}
