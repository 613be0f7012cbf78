#include "audio/WaveOut.h"

#include <algorithm>
#include <atomic>

namespace {

constexpr UINT kHeaderSize = sizeof(WAVEHDR);

DWORD Flags(const WAVEHDR& h) {
    return std::atomic_ref<DWORD>(const_cast<DWORD&>(h.dwFlags)).load(std::memory_order_acquire);
}
void SetFlags(WAVEHDR& h, DWORD flags) {
    std::atomic_ref<DWORD>(h.dwFlags).store(flags, std::memory_order_release);
}

}  // namespace

CWaveOut::CWaveOut() = default;

CWaveOut::CWaveOut(const CWave& wave, const CWaveDevice& device) : wave_(wave), device_(device) {}

CWaveOut::~CWaveOut() {
    Close();
}

void CWaveOut::SetWave(const CWave& wave) {
    std::lock_guard lock(lock_);
    wave_ = wave;
}

void CWaveOut::SetDevice(const CWaveDevice& device) {
    device_ = device;
}

void CWaveOut::SetChunkSize(DWORD nBytes) {
    std::lock_guard lock(lock_);
    chunkSize_ = nBytes;
}

void CWaveOut::SetResult(MMRESULT r) {
    std::lock_guard lock(lock_);
    lastResult_ = r;
}

bool CWaveOut::Open() {
    WAVEFORMATEX format;
    {
        std::lock_guard lock(lock_);
        format = wave_.GetFormat();
    }
    const MMRESULT r =
        waveOutOpen(&handle_, device_.GetDevice(), &format,
                    reinterpret_cast<DWORD_PTR>(&CWaveOut::WaveOutProc), 0, CALLBACK_FUNCTION);
    if (r != MMSYSERR_NOERROR) handle_ = nullptr;
    SetResult(r);
    return r == MMSYSERR_NOERROR;
}

bool CWaveOut::Stop() {
    if (!handle_) return true;
    {
        std::lock_guard lock(lock_);
        position_ = end_;  // the completions of the reset queue nothing
    }
    const MMRESULT r = waveOutReset(handle_);  // waits for those completions: no lock held
    SetResult(r);
    return r == MMSYSERR_NOERROR;
}

bool CWaveOut::Play(int nFirst, int nEnd) {
    if (!Stop()) return false;
    std::lock_guard lock(lock_);
    const std::uint64_t align = wave_.GetFormat().nBlockAlign;
    const DWORD length = wave_.GetBufferLength();
    // Negative frame numbers mean the whole sound on that side; a start beyond the end of the
    // range queues nothing.
    end_ = nEnd < 0 ? length
                    : static_cast<DWORD>(std::min<std::uint64_t>(
                          std::min<DWORD>(static_cast<DWORD>(nEnd), wave_.GetNumSamples()) * align,
                          length));
    const std::uint64_t first = nFirst < 0 ? 0 : static_cast<std::uint64_t>(nFirst) * align;
    position_ = static_cast<DWORD>(std::min<std::uint64_t>(first, end_));
    header_ = 2;
    for (int i = 0; i < 3; ++i) {
        if (!QueueNext(handle_)) return false;
    }
    return true;
}

bool CWaveOut::Pause() {
    if (!handle_) return true;
    const MMRESULT r = waveOutPause(handle_);
    SetResult(r);
    return r == MMSYSERR_NOERROR;
}

bool CWaveOut::Continue() {
    if (!handle_) return true;
    const MMRESULT r = waveOutRestart(handle_);
    SetResult(r);
    return r == MMSYSERR_NOERROR;
}

bool CWaveOut::Close() {
    if (!handle_) return true;
    if (!Stop()) return false;
    const MMRESULT r = waveOutClose(handle_);
    SetResult(r);
    if (r != MMSYSERR_NOERROR) return false;
    handle_ = nullptr;
    return true;
}

bool CWaveOut::IsPlaying() const {
    std::lock_guard lock(lock_);
    if (header_ < 0) return false;
    const DWORD flags = Flags(headers_[header_]);
    return flags != 0 && !(flags & WHDR_DONE);
}

int CWaveOut::GetPosition() {
    if (!handle_) return -1;
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    const MMRESULT r = waveOutGetPosition(handle_, &time, sizeof(MMTIME));
    SetResult(r);
    return r == MMSYSERR_NOERROR ? static_cast<int>(time.u.sample) : -1;
}

std::string CWaveOut::GetErrorText() const {
    MMRESULT result;
    {
        std::lock_guard lock(lock_);
        result = lastResult_;
    }
    if (result == MMSYSERR_NOERROR) return {};
    char text[MAXERRORLENGTH];
    if (waveOutGetErrorTextA(result, text, MAXERRORLENGTH) != MMSYSERR_NOERROR) return {};
    return text;
}

DWORD CWaveOut::ChunkLength() const {
    return RangeFinished() ? 0 : std::min(chunkSize_, end_ - position_);
}

// lock_ held.
bool CWaveOut::QueueNext(HWAVEOUT hwo) {
    const DWORD length = ChunkLength();
    if (length == 0) return false;
    header_ = header_ >= 2 ? 0 : header_ + 1;
    WAVEHDR& hdr = headers_[header_];
    hdr.lpData = reinterpret_cast<LPSTR>(wave_.GetBuffer() + position_);
    hdr.dwBufferLength = length;
    hdr.dwUser = reinterpret_cast<DWORD_PTR>(this);
    SetFlags(hdr, 0);
    lastResult_ = waveOutPrepareHeader(hwo, &hdr, kHeaderSize);
    if (lastResult_ != MMSYSERR_NOERROR) return false;
    lastResult_ = waveOutWrite(hwo, &hdr, kHeaderSize);
    if (lastResult_ != MMSYSERR_NOERROR) {
        waveOutUnprepareHeader(hwo, &hdr, kHeaderSize);
        hdr.lpData = nullptr;
        hdr.dwBufferLength = 0;
        hdr.dwUser = 0;
        SetFlags(hdr, 0);
        --header_;
        return false;
    }
    position_ += length;
    return true;
}

// Device thread: a chunk has been played; its slot carries the next one.
void CALLBACK CWaveOut::WaveOutProc(HWAVEOUT hwo, UINT uMsg, DWORD_PTR, DWORD_PTR dwParam1,
                                    DWORD_PTR) {
    if (uMsg != WOM_DONE) return;
    auto* hdr = reinterpret_cast<WAVEHDR*>(dwParam1);
    if (!hdr || !hwo || !hdr->dwUser) return;
    auto* self = reinterpret_cast<CWaveOut*>(hdr->dwUser);
    std::lock_guard lock(self->lock_);
    if (Flags(*hdr) & WHDR_DONE) {
        const MMRESULT r = waveOutUnprepareHeader(hwo, hdr, kHeaderSize);
        SetFlags(*hdr, 0);
        self->lastResult_ = r;
        if (r != MMSYSERR_NOERROR) return;
        hdr->lpData = nullptr;
    }
    if (self->RangeFinished()) return;
    self->QueueNext(hwo);
}
