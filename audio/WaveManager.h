// CWaveManager: the recorder's state machine. It records through the capture engine, which
// keeps the recording in a spool meant for its file (in memory where there is no spool), and
// writes the WAV file when recording stops; it also offers a wave-output playback of WAV
// files. The recording's sound, and with it its spool, lasts until the next recording starts
// or the manager is destroyed; a recording that is never written where it was meant to go
// is left for `talrec recover`. Every operation runs on the host's user-interface thread and takes
// no lock; the capture engine's callback thread never calls the manager.
#pragma once

#include <string>

#include "audio/Wave.h"
#include "audio/WaveDevice.h"
#include "audio/WaveIn.h"
#include "audio/WaveOut.h"
#include "platform/windef.h"

// The numbers are part of the interface: the control compares the state with them.
enum ManagerState : LONG {
    Recording = 0,
    Playing = 1,
    Idle = 2,
    PlayPaused = 3,
    RecordPaused = 4,
};

class CWaveManager {
  public:
    // Bytes per capture buffer: 1024 frames, about 46 ms, at the default format.
    static constexpr DWORD kCaptureBufferBytes = 4096;

    CWaveManager();
    // A recording still running or paused is not written, and not thrown away either: it is
    // kept for `talrec recover` (CWaveIn::KeepForRecovery). Then the members go in reverse order.
    ~CWaveManager();
    CWaveManager(const CWaveManager&) = delete;
    CWaveManager& operator=(const CWaveManager&) = delete;

    void SetWindow(HWND window);

    // Each operation does nothing in a state that does not accept it. The new state is
    // written before any device work and stays when that work fails. The file error of
    // CWave's Save or Load passes through to the caller; a recording whose file cannot be
    // written is kept for `talrec recover` first (CWave::KeepForRecovery).
    bool StartRecording(const std::string& path);
    bool StopRecording();
    bool TogglePauseRecording();
    bool ResumeRecording();
    bool StartPlayback(const std::string& path);
    bool StopPlayback();
    bool TogglePausePlayback();
    bool ResumePlayback();

    LONG state;  // a ManagerState code; read directly by the control

    const CWave& GetFormat() const { return format_; }
    const std::string& GetRecordPath() const { return recordPath_; }

  private:
    HWND window_;
    // The file the recording is meant for, held here alone: the capture engine and the sound
    // are given it where they need it.
    std::string recordPath_;
    std::string playPath_;
    CWaveIn waveIn_;
    CWaveOut waveOut_;
    CWaveDevice device_;
    CWave format_;  // the recording format and, after a stop, the recorded sound
};
