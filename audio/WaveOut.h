// CWaveOut: plays one in-memory sound through the wave-output device, in chunks taken
// straight from the sound's store through a ring of three buffer headers. The caller queues
// the first three; the completion callback queues each next one until the range is used up.
//
// Threads. Every operation runs on the owner's thread; WaveOutProc runs on the device's
// thread and refills the ring from there. One lock per engine, lock_, guards the range
// (position, end), the header index, the headers' engine-owned fields, the held sound and
// the last result; the callback holds it while it unprepares and queues. It is never held
// while the engine waits for the device: Stop moves the position to the end under the lock,
// releases it and only then resets the device, whose reset hands the buffers back through
// callbacks that take the lock in turn and find the range finished; Pause, Continue,
// GetPosition and Close likewise call the device without it. The headers' flags, which the
// device writes, are read and written with std::atomic_ref.
#pragma once

#include <mutex>
#include <string>

#include "audio/Wave.h"
#include "audio/WaveDevice.h"
#include "platform/mmwave.h"
#include "platform/windef.h"

class CWaveOut {
  public:
    CWaveOut();
    CWaveOut(const CWave& wave, const CWaveDevice& device);
    virtual ~CWaveOut();
    CWaveOut(const CWaveOut&) = delete;
    CWaveOut& operator=(const CWaveOut&) = delete;

    // Not while headers are queued: they point into the held sound.
    void SetWave(const CWave& wave);
    void SetDevice(const CWaveDevice& device);
    void SetWindow(HWND hWnd) { window_ = hWnd; }
    void SetChunkSize(DWORD nBytes);

    bool Open();
    // Plays frames [nFirst, nEnd) of the held sound; -1 means from the start / to the end.
    // False unless three chunks were queued (shorter ranges still play what was queued).
    bool Play(int nFirst = -1, int nEnd = -1);
    bool Pause();
    bool Continue();
    // Ends the range and has the device hand back every queued chunk.
    bool Stop();
    bool Close();

    bool IsPlaying() const;
    int GetPosition();
    std::string GetErrorText() const;

  private:
    // Device thread.
    static void CALLBACK WaveOutProc(HWAVEOUT hwo, UINT uMsg, DWORD_PTR dwInstance,
                                     DWORD_PTR dwParam1, DWORD_PTR dwParam2);
    // lock_ held; owner's thread (Play) or device thread (the callback).
    bool QueueNext(HWAVEOUT hwo);
    DWORD ChunkLength() const;
    bool RangeFinished() const { return position_ >= end_; }
    void SetResult(MMRESULT r);

    HWND window_ = nullptr;      // kept for the owner; nothing is sent to it
    HWAVEOUT handle_ = nullptr;  // owner's thread only; the callback gets its own handle
    mutable std::mutex lock_;
    // Guarded by lock_.
    DWORD end_ = 0;
    DWORD position_ = 0;
    DWORD chunkSize_ = 4096;
    MMRESULT lastResult_ = MMSYSERR_NOERROR;
    int header_ = 0;
    WAVEHDR headers_[3] = {};
    CWave wave_;
    CWaveDevice device_{WAVE_MAPPER};
};
