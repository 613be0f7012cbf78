#include "audio/WaveDevice.h"

CWaveDevice::CWaveDevice(UINT nDevice) : m_nDevice(nDevice) {}

CWaveDevice::~CWaveDevice() = default;

bool CWaveDevice::IsInputFormat(const CWave& wave) const {
    const WAVEFORMATEX format = wave.GetFormat();
    return waveInOpen(nullptr, m_nDevice, &format, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

bool CWaveDevice::IsOutputFormat(const CWave& wave) const {
    const WAVEFORMATEX format = wave.GetFormat();
    return waveOutOpen(nullptr, m_nDevice, &format, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}
