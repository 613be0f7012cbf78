// Helpers for the media tests: a scratch folder, sound files made by ffmpeg and sox, the PCM
// inside a WAV file, and ffmpeg's own decode of a file for comparison.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mcitest {

using Bytes = std::vector<std::uint8_t>;

// A folder of its own under the build's scratch space, removed at destruction.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

// Runs a shell command; true if it exited with 0. Its output goes to the test's log.
bool Run(const std::string& command);

Bytes ReadAll(const std::string& path);
void WriteAll(const std::string& path, const Bytes& bytes);

struct WavPcm {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    Bytes data;
};
// The format and sample bytes of a PCM WAV file; channels 0 if it is not one.
WavPcm ReadWav(const std::string& path);

// Writes a 16-bit PCM WAV whose samples count up: frame n holds n (mod 65536) in every channel,
// so any sample lost or repeated shows.
void WriteCountingWav(const std::string& path, int rate, int channels, int frames);

// ffmpeg's decode of the file to interleaved signed 16-bit PCM (or unsigned 8-bit) at the
// given rate and channel count.
Bytes FfmpegDecode(const std::string& path, int rate, int channels, int bits = 16);

// Largest difference between two 16-bit little-endian sample streams over their common length.
int MaxSampleDifference(const Bytes& a, const Bytes& b);

}  // namespace mcitest
