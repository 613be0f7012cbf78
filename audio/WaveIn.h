// CWaveIn: captures PCM sound from a wave-input device, through two capture buffers that
// alternate at the device, and posts the input level of each returned buffer.
//
// Where the sound goes. Record makes a take store for the destination it is given
// (TakeStore::Create): a recording spool, so that memory stays flat however long the recording
// and the sound survives a crash; without a destination, or when the platform makes no spool,
// memory. Every returned buffer's frames are appended to the store and the buffer queued
// again. GetWave hands over the sound either way; a spooled one stays in its spool.
//
// Threads. Every operation runs on the owner's (user-interface) thread. The capture callback
// runs on the device's thread: it appends to the take store, queues the buffers again, writes
// currentHeader_ and lastError_ and posts WM_WAVE_LEVEL. How the two are kept apart:
// - stopping_ is atomic. Reset raises it before it resets the device, so a callback that
//   reads it afterwards queues nothing; a callback that read it just before and queued again
//   runs on the device thread, which carries out the reset only after that callback has
//   returned, so the buffer it queued is handed back by the reset too.
// - waveInReset returns only after the callbacks for every buffer it hands back have
//   finished. The owner's thread touches the headers and their blocks only after a Reset
//   (Record, the destructor), so no callback is using them then.
// - The take store is made and let go only while no buffer is queued (Record, the
//   destructor); the callback appends to it, the owner asks its length (also while capture
//   runs) and takes its frames, as the store's contract allows.
// - lastError_, currentHeader_ and window_ are atomic; the headers' flags are read with
//   std::atomic_ref, as the device writes them.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "audio/TakeStore.h"
#include "audio/Wave.h"
#include "audio/WaveDevice.h"
#include "platform/mmwave.h"
#include "platform/winuser.h"

// Posted to the capture window for each returned buffer that holds at least 2 bytes: wParam
// the mean absolute 16-bit sample value of the buffer, at most 9000; lParam 0.
inline constexpr UINT WM_WAVE_LEVEL = WM_USER + 0x100;

class CWaveIn {
  public:
    CWaveIn();
    CWaveIn(WAVEFORMATEX format, const CWaveDevice& device);
    virtual ~CWaveIn();
    CWaveIn(const CWaveIn&) = delete;
    CWaveIn& operator=(const CWaveIn&) = delete;

    void SetWindow(HWND hWnd) { window_.store(hWnd); }
    void SetDevice(const CWaveDevice& device) { device_ = device; }
    // The format's channels, rate and bits; the other fields are derived, the samples emptied.
    void SetFormat(WAVEFORMATEX format);
    bool Open();
    // Starts capture with two buffers of nBufferBytes each, discarding the earlier take, into a
    // store for `destination`, the file the recording is meant for (empty: memory).
    bool Record(DWORD nBufferBytes, const std::string& destination = {});
    bool Pause();
    bool Continue();
    bool Reset();
    bool Close();
    // Ends capture as Close does and keeps what was captured since Record for `talrec recover`,
    // for a recording that will not be written to `destination`: a spooled one's spool is
    // left for recovery, one held in memory goes into a new spool.
    void KeepForRecovery(const std::string& destination);

    int GetNumSamples();
    // What was captured since Record as one sound in the capture format (the format is kept):
    // a joined copy of what is held in memory, or the spool's frames.
    CWave GetWave();
    int GetPosition();
    std::string GetErrorText() const;
    bool IsRecording() const;

  private:
    // Device thread.
    static void CALLBACK WaveInProc(HWAVEIN hwi, UINT uMsg, DWORD_PTR dwInstance,
                                    DWORD_PTR dwParam1, DWORD_PTR dwParam2);
    void OnData(HWAVEIN hwi, WAVEHDR* pHdr);
    // Owner's thread (Record) and device thread (the callback).
    bool QueueNext(HWAVEIN hwi);
    void FreeBlocks();
    void DropStore();

    std::atomic<HWND> window_{nullptr};
    std::atomic<bool> stopping_{true};
    HWAVEIN handle_ = nullptr;  // owner's thread only
    std::atomic<MMRESULT> lastError_{MMSYSERR_NOERROR};
    std::atomic<int> currentHeader_{1};
    DWORD bufferBytes_ = 0;
    WAVEHDR headers_[2] = {};
    CWave format_;
    CWaveDevice device_{WAVE_MAPPER};
    std::unique_ptr<TakeStore> store_;              // owner's thread only
    std::atomic<TakeStore*> storeHandle_{nullptr};  // the callback's
};
