#include "audio/WaveDevice.h"

CWaveDevice::CWaveDevice(UINT nDevice) : device_(nDevice) {}

CWaveDevice::~CWaveDevice() = default;

bool CWaveDevice::IsInputFormat(const CWave& wave) const {
    const WAVEFORMATEX format = wave.GetFormat();
    return waveInOpen(nullptr, device_, &format, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

bool CWaveDevice::IsOutputFormat(const CWave& wave) const {
    const WAVEFORMATEX format = wave.GetFormat();
    return waveOutOpen(nullptr, device_, &format, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}
