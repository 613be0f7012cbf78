#include "audio/WaveBuffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {
std::size_t ByteCount(DWORD nCount, int nSize) {
    return static_cast<std::size_t>(nCount) * static_cast<std::size_t>(std::max(nSize, 0));
}
}  // namespace

CWaveBuffer::~CWaveBuffer() {
    m_nCount = 0;
    delete[] m_pData;
    m_pData = nullptr;
}

CWaveBuffer::CWaveBuffer(CWaveBuffer&& other) noexcept
    : m_nSampleSize(std::exchange(other.m_nSampleSize, 0)),
      m_pData(std::exchange(other.m_pData, nullptr)),
      m_nCount(std::exchange(other.m_nCount, 0)) {}

CWaveBuffer& CWaveBuffer::operator=(CWaveBuffer&& other) noexcept {
    if (this == &other) return *this;
    delete[] m_pData;
    m_nSampleSize = std::exchange(other.m_nSampleSize, 0);
    m_pData = std::exchange(other.m_pData, nullptr);
    m_nCount = std::exchange(other.m_nCount, 0);
    return *this;
}

void CWaveBuffer::SetNumSamples(DWORD nCount, int nSize) {
    SetBuffer(new BYTE[ByteCount(nCount, nSize)], nCount, nSize);
}

void CWaveBuffer::SetBuffer(BYTE* pBuffer, DWORD nCount, int nSize) {
    // Adopting the block already held must not free it.
    if (pBuffer != m_pData) delete[] m_pData;
    m_pData = pBuffer;
    m_nCount = nCount;
    m_nSampleSize = nSize;
}

void CWaveBuffer::CopyBuffer(const void* pSource, DWORD nCount, int nSize) {
    if (m_pData == nullptr) SetNumSamples(nCount, nSize);
    const std::size_t stored = ByteCount(m_nCount, m_nSampleSize);
    // Never more than the storage holds, whatever frame size the caller gives.
    const std::size_t bytes = std::min(ByteCount(std::min(m_nCount, nCount), nSize), stored);
    if (bytes == 0) return;
    std::memset(m_pData, 0, stored);
    std::memcpy(m_pData, pSource, bytes);
}
