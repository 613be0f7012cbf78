// CWaveDevice: which wave device capture and playback open, and whether it takes a sound's
// format before it is opened.
#pragma once

#include "audio/Wave.h"
#include "platform/mmwave.h"

class CWaveDevice {
  public:
    // The platform's device number unchanged; WAVE_MAPPER (-1) selects the wave mapper.
    explicit CWaveDevice(UINT nDevice);
    CWaveDevice(const CWaveDevice& other) = default;
    CWaveDevice& operator=(const CWaveDevice& other) = default;
    virtual ~CWaveDevice();

    UINT GetDevice() const { return device_; }

    // Whether the input (output) device accepts the sound's format: a format query, which
    // opens nothing that stays open. Any result but MMSYSERR_NOERROR is false.
    bool IsInputFormat(const CWave& wave) const;
    bool IsOutputFormat(const CWave& wave) const;

  private:
    UINT device_;
};
