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

CWaveOut::CWaveOut(const CWave& wave, const CWaveDevice& device) : m_wave(wave), m_device(device) {}

CWaveOut::~CWaveOut() {
    Close();
}

void CWaveOut::SetWave(const CWave& wave) {
    std::lock_guard lock(m_lock);
    m_wave = wave;
}

void CWaveOut::SetDevice(const CWaveDevice& device) {
    m_device = device;
}

void CWaveOut::SetChunkSize(DWORD nBytes) {
    std::lock_guard lock(m_lock);
    m_nChunkSize = nBytes;
}

void CWaveOut::SetResult(MMRESULT r) {
    std::lock_guard lock(m_lock);
    m_nLastResult = r;
}

bool CWaveOut::Open() {
    WAVEFORMATEX format;
    {
        std::lock_guard lock(m_lock);
        format = m_wave.GetFormat();
    }
    const MMRESULT r =
        waveOutOpen(&m_hWaveOut, m_device.GetDevice(), &format,
                    reinterpret_cast<DWORD_PTR>(&CWaveOut::WaveOutProc), 0, CALLBACK_FUNCTION);
    if (r != MMSYSERR_NOERROR) m_hWaveOut = nullptr;
    SetResult(r);
    return r == MMSYSERR_NOERROR;
}

bool CWaveOut::Stop() {
    if (!m_hWaveOut) return true;
    {
        std::lock_guard lock(m_lock);
        m_nPosition = m_nEnd;  // the completions of the reset queue nothing
    }
    const MMRESULT r = waveOutReset(m_hWaveOut);  // waits for those completions: no lock held
    SetResult(r);
    return r == MMSYSERR_NOERROR;
}

bool CWaveOut::Play(int nFirst, int nEnd) {
    if (!Stop()) return false;
    std::lock_guard lock(m_lock);
    const std::uint64_t align = m_wave.GetFormat().nBlockAlign;
    const DWORD length = m_wave.GetBufferLength();
    // Negative frame numbers mean the whole sound on that side; a start beyond the end of the
    // range queues nothing.
    m_nEnd = nEnd < 0
                 ? length
                 : static_cast<DWORD>(std::min<std::uint64_t>(
                       std::min<DWORD>(static_cast<DWORD>(nEnd), m_wave.GetNumSamples()) * align,
                       length));
    const std::uint64_t first = nFirst < 0 ? 0 : static_cast<std::uint64_t>(nFirst) * align;
    m_nPosition = static_cast<DWORD>(std::min<std::uint64_t>(first, m_nEnd));
    m_nHeader = 2;
    for (int i = 0; i < 3; ++i) {
        if (!QueueNext(m_hWaveOut)) return false;
    }
    return true;
}

bool CWaveOut::Pause() {
    if (!m_hWaveOut) return true;
    const MMRESULT r = waveOutPause(m_hWaveOut);
    SetResult(r);
    return r == MMSYSERR_NOERROR;
}

bool CWaveOut::Continue() {
    if (!m_hWaveOut) return true;
    const MMRESULT r = waveOutRestart(m_hWaveOut);
    SetResult(r);
    return r == MMSYSERR_NOERROR;
}

bool CWaveOut::Close() {
    if (!m_hWaveOut) return true;
    if (!Stop()) return false;
    const MMRESULT r = waveOutClose(m_hWaveOut);
    SetResult(r);
    if (r != MMSYSERR_NOERROR) return false;
    m_hWaveOut = nullptr;
    return true;
}

bool CWaveOut::IsPlaying() const {
    std::lock_guard lock(m_lock);
    if (m_nHeader < 0) return false;
    const DWORD flags = Flags(m_headers[m_nHeader]);
    return flags != 0 && !(flags & WHDR_DONE);
}

int CWaveOut::GetPosition() {
    if (!m_hWaveOut) return -1;
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    const MMRESULT r = waveOutGetPosition(m_hWaveOut, &time, sizeof(MMTIME));
    SetResult(r);
    return r == MMSYSERR_NOERROR ? static_cast<int>(time.u.sample) : -1;
}

std::string CWaveOut::GetErrorText() const {
    MMRESULT result;
    {
        std::lock_guard lock(m_lock);
        result = m_nLastResult;
    }
    if (result == MMSYSERR_NOERROR) return {};
    char text[MAXERRORLENGTH];
    if (waveOutGetErrorTextA(result, text, MAXERRORLENGTH) != MMSYSERR_NOERROR) return {};
    return text;
}

DWORD CWaveOut::ChunkLength() const {
    return RangeFinished() ? 0 : std::min(m_nChunkSize, m_nEnd - m_nPosition);
}

// m_lock held.
bool CWaveOut::QueueNext(HWAVEOUT hwo) {
    const DWORD length = ChunkLength();
    if (length == 0) return false;
    m_nHeader = m_nHeader >= 2 ? 0 : m_nHeader + 1;
    WAVEHDR& hdr = m_headers[m_nHeader];
    hdr.lpData = reinterpret_cast<LPSTR>(m_wave.GetBuffer() + m_nPosition);
    hdr.dwBufferLength = length;
    hdr.dwUser = reinterpret_cast<DWORD_PTR>(this);
    SetFlags(hdr, 0);
    m_nLastResult = waveOutPrepareHeader(hwo, &hdr, kHeaderSize);
    if (m_nLastResult != MMSYSERR_NOERROR) return false;
    m_nLastResult = waveOutWrite(hwo, &hdr, kHeaderSize);
    if (m_nLastResult != MMSYSERR_NOERROR) {
        waveOutUnprepareHeader(hwo, &hdr, kHeaderSize);
        hdr.lpData = nullptr;
        hdr.dwBufferLength = 0;
        hdr.dwUser = 0;
        SetFlags(hdr, 0);
        --m_nHeader;
        return false;
    }
    m_nPosition += length;
    return true;
}

// Device thread: a chunk has been played; its slot carries the next one.
void CWaveOut::WaveOutProc(HWAVEOUT hwo, UINT uMsg, DWORD_PTR, DWORD_PTR dwParam1, DWORD_PTR) {
    if (uMsg != WOM_DONE) return;
    auto* hdr = reinterpret_cast<WAVEHDR*>(dwParam1);
    if (!hdr || !hwo || !hdr->dwUser) return;
    auto* self = reinterpret_cast<CWaveOut*>(hdr->dwUser);
    std::lock_guard lock(self->m_lock);
    if (Flags(*hdr) & WHDR_DONE) {
        const MMRESULT r = waveOutUnprepareHeader(hwo, hdr, kHeaderSize);
        SetFlags(*hdr, 0);
        self->m_nLastResult = r;
        if (r != MMSYSERR_NOERROR) return;
        hdr->lpData = nullptr;
    }
    if (self->RangeFinished()) return;
    self->QueueNext(hwo);
}
