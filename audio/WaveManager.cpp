#include "audio/WaveManager.h"

CWaveManager::CWaveManager() : state(Idle), window_(nullptr), device_(WAVE_MAPPER) {
    format_.SetFormat(2, 22050, 16);
}

CWaveManager::~CWaveManager() {
    if (state == Recording || state == RecordPaused) waveIn_.KeepForRecovery(recordPath_);
}

void CWaveManager::SetWindow(HWND hwnd) {
    window_ = hwnd;
    waveIn_.SetWindow(hwnd);
    waveOut_.SetWindow(hwnd);
}

bool CWaveManager::StartRecording(const std::string& path) {
    if (state == RecordPaused) {
        state = Recording;
        return waveIn_.Continue();
    }
    if (state != Idle) return false;

    state = Recording;
    recordPath_ = path;
    // The previous take's sound is let go: a recording's spool lasts until the next one starts.
    format_.SetBuffer(nullptr, 0, false);
    if (waveOut_.IsPlaying() && !waveOut_.Close()) return false;
    if (!device_.IsInputFormat(format_)) return false;
    WAVEFORMATEX pcm = format_.GetFormat();
    waveIn_.SetFormat(pcm);
    waveIn_.SetDevice(device_);
    if (!waveIn_.Open()) return false;
    return waveIn_.Record(kCaptureBufferBytes, recordPath_);
}

bool CWaveManager::StopRecording() {
    if (state != Recording && state != RecordPaused) return false;

    state = Idle;
    if (!waveIn_.Close()) return false;
    // The joined recording is moved in, not copied: no caller can see the temporary.
    format_ = waveIn_.GetWave();
    try {
        format_.Save(recordPath_.c_str());
    } catch (...) {
        format_.KeepForRecovery(recordPath_);
        throw;
    }
    return true;
}

bool CWaveManager::TogglePauseRecording() {
    if (state == Recording) {
        state = RecordPaused;
        return waveIn_.Pause();
    }
    if (state == RecordPaused) {
        state = Recording;
        return waveIn_.Continue();
    }
    return false;
}

bool CWaveManager::ResumeRecording() {
    if (state != RecordPaused) return false;
    state = Recording;
    return waveIn_.Continue();
}

bool CWaveManager::StartPlayback(const std::string& path) {
    if (state == PlayPaused) {
        state = Playing;
        return waveOut_.Continue();
    }
    if (state != Idle) return false;

    state = Playing;
    playPath_ = path;
    if (waveOut_.IsPlaying() && !waveOut_.Close()) return false;
    format_.Load(playPath_.c_str());
    if (!device_.IsOutputFormat(format_)) return false;
    waveOut_.SetWave(format_);
    waveOut_.SetDevice(device_);
    if (!waveOut_.Open()) return false;
    return waveOut_.Play(-1, -1);
}

bool CWaveManager::StopPlayback() {
    if (state != Playing && state != PlayPaused) return false;
    state = Idle;
    return waveOut_.Close();
}

bool CWaveManager::TogglePausePlayback() {
    if (state == Playing) {
        state = PlayPaused;
        return waveOut_.Pause();
    }
    if (state == PlayPaused) {
        state = Playing;
        return waveOut_.Continue();
    }
    return false;
}

bool CWaveManager::ResumePlayback() {
    if (state != PlayPaused) return false;
    state = Playing;
    return waveOut_.Continue();
}
