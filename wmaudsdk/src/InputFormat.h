// The input formats the writer takes, read from a WAV "fmt " block.
#pragma once

#include <cstdint>

enum class SampleKind { UInt8, Int16, Int24, Int32, Float32, Float64 };

struct InputFormat {
    SampleKind kind = SampleKind::Int16;
    int channels = 0;
    int sampleRate = 0;
    int blockAlign = 0;             // bytes per frame
    std::uint64_t channelMask = 0;  // speaker positions (WAVE_FORMAT_EXTENSIBLE), 0 if none
};

// Parses a WAVEFORMATEX record and its cbSize extra bytes. False for anything not taken.
bool ParseInputFormat(const void* block, InputFormat& out);
