// CWaveBuffer: one owned block of PCM sample frames of a fixed frame size.
//
// The buffer knows nothing of channels or rates: a frame is a run of `sample size` bytes.
// Invariant: when the storage is not null it holds exactly count x sample size bytes. The
// buffer never grows by itself; only SetNumSamples and SetBuffer change its size.
// A buffer is owned by one object and used by one thread at a time; it cannot be copied,
// only moved.
#pragma once

#include "platform/windef.h"

class CWaveBuffer {
  public:
    CWaveBuffer() = default;
    virtual ~CWaveBuffer();
    CWaveBuffer(const CWaveBuffer&) = delete;
    CWaveBuffer& operator=(const CWaveBuffer&) = delete;
    // Moving hands the storage over; the source is left empty, with no storage.
    CWaveBuffer(CWaveBuffer&& other) noexcept;
    CWaveBuffer& operator=(CWaveBuffer&& other) noexcept;

    // The storage, null when there is none.
    BYTE* GetBuffer() const { return data_; }
    DWORD GetNumSamples() const { return count_; }
    int GetSampleSize() const { return sampleSize_; }

    // Installs a new block of nCount x nSize bytes whose contents are not cleared.
    void SetNumSamples(DWORD nCount, int nSize);
    // Frees the current storage and adopts pBuffer, which must come from new BYTE[] (the
    // buffer frees it with delete[]) and hold nCount x nSize bytes. No copy is made.
    void SetBuffer(BYTE* pBuffer, DWORD nCount, int nSize);
    // Copies frames in. With no storage yet, first installs exactly nCount frames of nSize.
    // Otherwise the size stays: min(stored count, nCount) frames are copied and the rest of
    // the storage is zeroed; when nothing is to be copied the contents stay untouched.
    void CopyBuffer(const void* pSource, DWORD nCount, int nSize);

  private:
    int sampleSize_ = 0;
    BYTE* data_ = nullptr;
    DWORD count_ = 0;
};
