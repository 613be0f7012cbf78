#include "audio/WaveIn.h"

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

// Mean absolute value of the block read as signed 16-bit little-endian samples, whatever the
// format, capped at kMaxLevel. The sum fits 32 bits for blocks under 262144 bytes.
DWORD Level(const BYTE* data, DWORD bytes) {
    const DWORD n = bytes / 2;
    DWORD sum = 0;
    for (DWORD i = 0; i < n; ++i) {
        const auto s = static_cast<std::int16_t>(data[2 * i] | data[2 * i + 1] << 8);
        sum += static_cast<DWORD>(s < 0 ? -static_cast<int>(s) : s);
    }
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
    FreeChunks();
    FreeBlocks();
}

void CWaveIn::SetFormat(WAVEFORMATEX format) {
    m_format.SetFormat(format.nChannels, format.nSamplesPerSec, format.wBitsPerSample);
}

bool CWaveIn::Open() {
    const WAVEFORMATEX format = m_format.GetFormat();
    const MMRESULT r =
        waveInOpen(&m_hWaveIn, m_device.GetDevice(), &format,
                   reinterpret_cast<DWORD_PTR>(&CWaveIn::WaveInProc), 0, CALLBACK_FUNCTION);
    m_nLastError = r;
    if (r != MMSYSERR_NOERROR) m_hWaveIn = nullptr;
    return r == MMSYSERR_NOERROR;
}

bool CWaveIn::Record(DWORD nBufferBytes) {
    if (!Reset()) return false;
    m_bStopping = false;
    FreeChunks();
    FreeBlocks();
    SetFormat(m_format.GetFormat());
    m_nCurrentHeader = 1;
    m_nBufferBytes = nBufferBytes;
    if (!QueueNext(m_hWaveIn) || !QueueNext(m_hWaveIn)) return false;
    const MMRESULT r = waveInStart(m_hWaveIn);
    m_nLastError = r;
    return r == MMSYSERR_NOERROR;
}

bool CWaveIn::Pause() {
    if (!m_hWaveIn) return true;
    const MMRESULT r = waveInStop(m_hWaveIn);
    m_nLastError = r;
    return r == MMSYSERR_NOERROR;
}

bool CWaveIn::Continue() {
    if (!m_hWaveIn) return true;
    const MMRESULT r = waveInStart(m_hWaveIn);
    m_nLastError = r;
    return r == MMSYSERR_NOERROR;
}

bool CWaveIn::Reset() {
    if (!m_hWaveIn) return true;
    m_bStopping = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const MMRESULT r = waveInReset(m_hWaveIn);
    m_nLastError = r;
    return r == MMSYSERR_NOERROR;
}

bool CWaveIn::Close() {
    if (!m_hWaveIn) return true;
    if (!Reset()) return false;
    const MMRESULT r = waveInClose(m_hWaveIn);
    m_nLastError = r;
    if (r != MMSYSERR_NOERROR) return false;
    m_hWaveIn = nullptr;
    return true;
}

int CWaveIn::GetNumSamples() {
    std::lock_guard lock(m_chunksLock);
    DWORD total = 0;
    for (const auto& chunk : m_chunks) total += chunk->GetNumSamples();
    return static_cast<int>(total);
}

CWave CWaveIn::GetWave() {
    {
        std::lock_guard lock(m_chunksLock);
        DWORD total = 0;
        for (const auto& chunk : m_chunks) total += chunk->GetNumSamples();
        const DWORD align = m_format.GetFormat().nBlockAlign;
        BYTE* block = new BYTE[static_cast<std::size_t>(total) * align];
        std::size_t offset = 0;
        for (const auto& chunk : m_chunks) {
            const std::size_t bytes =
                static_cast<std::size_t>(chunk->GetNumSamples()) * chunk->GetSampleSize();
            if (bytes > 0) std::memcpy(block + offset, chunk->GetBuffer(), bytes);
            offset += bytes;
        }
        m_format.SetBuffer(block, total, false);
    }
    // The joined recording is moved out rather than copied: nothing reads it in the engine
    // (the next Record empties it, and a second GetWave joins the chunks again), so a copy
    // would only add a third image of the recording to memory at the stop.
    return std::move(m_format);
}

int CWaveIn::GetPosition() {
    if (!m_hWaveIn) return -1;
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    const MMRESULT r = waveInGetPosition(m_hWaveIn, &time, sizeof(MMTIME));
    m_nLastError = r;
    if (r != MMSYSERR_NOERROR) return -1;
    return static_cast<int>(time.u.sample);
}

std::string CWaveIn::GetErrorText() const {
    const MMRESULT error = m_nLastError;
    if (error == MMSYSERR_NOERROR) return {};
    char text[MAXERRORLENGTH];
    if (waveInGetErrorTextA(error, text, MAXERRORLENGTH) != MMSYSERR_NOERROR) return {};
    return text;
}

bool CWaveIn::IsRecording() const {
    const int current = m_nCurrentHeader;
    if (current < 0) return false;
    const DWORD flags = Flags(m_headers[current]);
    return flags != 0 && !(flags & WHDR_DONE);
}

// Owner's thread (from Record) or device thread (from the callback).
bool CWaveIn::QueueNext(HWAVEIN hwi) {
    const int next = m_nCurrentHeader == 1 ? 0 : m_nCurrentHeader + 1;
    m_nCurrentHeader = next;
    WAVEHDR& hdr = m_headers[next];
    if (!hdr.lpData) hdr.lpData = new char[m_nBufferBytes];
    std::memset(hdr.lpData, 0, m_nBufferBytes);
    hdr.dwBufferLength = m_nBufferBytes;
    hdr.dwUser = reinterpret_cast<DWORD_PTR>(this);
    SetFlags(hdr, 0);
    MMRESULT r = waveInPrepareHeader(hwi, &hdr, kHeaderSize);
    m_nLastError = r;
    if (r != MMSYSERR_NOERROR) return false;
    r = waveInAddBuffer(hwi, &hdr, kHeaderSize);
    m_nLastError = r;
    return r == MMSYSERR_NOERROR;
}

// Device thread.
void CWaveIn::WaveInProc(HWAVEIN hwi, UINT uMsg, DWORD_PTR, DWORD_PTR dwParam1, DWORD_PTR) {
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
            PostMessageA(m_hWnd.load(), WM_WAVE_LEVEL,
                         Level(reinterpret_cast<const BYTE*>(hdr->lpData), bytes), 0);
        }
        const MMRESULT r = waveInUnprepareHeader(hwi, hdr, kHeaderSize);
        m_nLastError = r;
        if (r != MMSYSERR_NOERROR) return;
        SetFlags(*hdr, 0);
        if (bytes > 0) AddChunk(*hdr);
        delete[] hdr->lpData;
        hdr->lpData = nullptr;
    }
    if (!m_bStopping) QueueNext(hwi);
}

// Device thread: the whole frames of the buffer become a new chunk at the end of the list.
void CWaveIn::AddChunk(const WAVEHDR& hdr) {
    auto chunk = std::make_unique<CWaveBuffer>();
    const WORD align = m_format.GetFormat().nBlockAlign;
    chunk->CopyBuffer(hdr.lpData, hdr.dwBytesRecorded / align, align);
    std::lock_guard lock(m_chunksLock);
    m_chunks.push_back(std::move(chunk));
}

void CWaveIn::FreeChunks() {
    std::lock_guard lock(m_chunksLock);
    m_chunks.clear();
}

void CWaveIn::FreeBlocks() {
    for (WAVEHDR& hdr : m_headers) {
        delete[] hdr.lpData;
        hdr.lpData = nullptr;
    }
}
