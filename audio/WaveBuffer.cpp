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
    count_ = 0;
    delete[] data_;
    data_ = nullptr;
}

CWaveBuffer::CWaveBuffer(CWaveBuffer&& other) noexcept
    : sampleSize_(std::exchange(other.sampleSize_, 0)),
      data_(std::exchange(other.data_, nullptr)),
      count_(std::exchange(other.count_, 0)) {}

CWaveBuffer& CWaveBuffer::operator=(CWaveBuffer&& other) noexcept {
    if (this == &other) return *this;
    delete[] data_;
    sampleSize_ = std::exchange(other.sampleSize_, 0);
    data_ = std::exchange(other.data_, nullptr);
    count_ = std::exchange(other.count_, 0);
    return *this;
}

void CWaveBuffer::SetNumSamples(DWORD nCount, int nSize) {
    SetBuffer(new BYTE[ByteCount(nCount, nSize)], nCount, nSize);
}

void CWaveBuffer::SetBuffer(BYTE* pBuffer, DWORD nCount, int nSize) {
    // Adopting the block already held must not free it.
    if (pBuffer != data_) delete[] data_;
    data_ = pBuffer;
    count_ = nCount;
    sampleSize_ = nSize;
}

void CWaveBuffer::CopyBuffer(const void* pSource, DWORD nCount, int nSize) {
    if (data_ == nullptr) SetNumSamples(nCount, nSize);
    const std::size_t stored = ByteCount(count_, sampleSize_);
    // Never more than the storage holds, whatever frame size the caller gives.
    const std::size_t bytes = std::min(ByteCount(std::min(count_, nCount), nSize), stored);
    if (bytes == 0) return;
    std::memset(data_, 0, stored);
    std::memcpy(data_, pSource, bytes);
}
