#include "audio/WaveManager.h"

CWaveManager::CWaveManager() : state(Idle), window(nullptr), device(WAVE_MAPPER) {
    format.SetFormat(2, 22050, 16);
}

void CWaveManager::SetWindow(HWND hwnd) {
    window = hwnd;
    waveIn.SetWindow(hwnd);
    waveOut.SetWindow(hwnd);
}

bool CWaveManager::StartRecording(const std::string& path) {
    if (state == RecordPaused) {
        state = Recording;
        return waveIn.Continue();
    }
    if (state != Idle) return false;

    state = Recording;
    recordPath = path;
    if (waveOut.IsPlaying() && !waveOut.Close()) return false;
    if (!device.IsInputFormat(format)) return false;
    WAVEFORMATEX pcm = format.GetFormat();
    waveIn.SetFormat(pcm);
    waveIn.SetDevice(device);
    if (!waveIn.Open()) return false;
    return waveIn.Record(kCaptureBufferBytes);
}

bool CWaveManager::StopRecording() {
    if (state != Recording && state != RecordPaused) return false;

    state = Idle;
    if (!waveIn.Close()) return false;
    // The joined recording is moved in, not copied: no caller can see the temporary.
    format = waveIn.GetWave();
    format.Save(recordPath.c_str());
    return true;
}

bool CWaveManager::TogglePauseRecording() {
    if (state == Recording) {
        state = RecordPaused;
        return waveIn.Pause();
    }
    if (state == RecordPaused) {
        state = Recording;
        return waveIn.Continue();
    }
    return false;
}

bool CWaveManager::ResumeRecording() {
    if (state != RecordPaused) return false;
    state = Recording;
    return waveIn.Continue();
}

bool CWaveManager::StartPlayback(const std::string& path) {
    if (state == PlayPaused) {
        state = Playing;
        return waveOut.Continue();
    }
    if (state != Idle) return false;

    state = Playing;
    playPath = path;
    if (waveOut.IsPlaying() && !waveOut.Close()) return false;
    format.Load(playPath.c_str());
    if (!device.IsOutputFormat(format)) return false;
    waveOut.SetWave(format);
    waveOut.SetDevice(device);
    if (!waveOut.Open()) return false;
    return waveOut.Play(-1, -1);
}

bool CWaveManager::StopPlayback() {
    if (state != Playing && state != PlayPaused) return false;
    state = Idle;
    return waveOut.Close();
}

bool CWaveManager::TogglePausePlayback() {
    if (state == Playing) {
        state = PlayPaused;
        return waveOut.Pause();
    }
    if (state == PlayPaused) {
        state = Playing;
        return waveOut.Continue();
    }
    return false;
}

bool CWaveManager::ResumePlayback() {
    if (state != PlayPaused) return false;
    state = Playing;
    return waveOut.Continue();
}
