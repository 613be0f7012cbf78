// The little WAV reading and writing that the virtual device's file source and sink need.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/mmwave.h"

namespace talrec::wave {

// Reads a PCM WAV file's format record and data. False when the file cannot be read or is
// not a PCM WAV file.
bool ReadWavFile(const std::string& path, WAVEFORMATEX* fmt, std::vector<BYTE>* data);

// Writes a PCM WAV file: the header at once, the data as it comes, the sizes at Close (or
// destruction). The sound is played into it piece by piece and its length is known only at
// the end, so it streams over the shared header rather than going through WriteWavFile,
// which pulls a sound of known length.
class WavWriter {
  public:
    WavWriter() = default;
    ~WavWriter() { Close(); }
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool Open(const std::string& path, const WAVEFORMATEX& fmt);
    bool Write(const BYTE* data, std::size_t bytes);
    void Close();

  private:
    std::FILE* file_ = nullptr;
    WAVEFORMATEX format_{};
    std::uint64_t dataBytes_ = 0;
};

}  // namespace talrec::wave
