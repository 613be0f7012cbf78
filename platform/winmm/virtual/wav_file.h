// The little WAV reading and writing that the virtual device's file source and sink need.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/ext/wavformat.h"
#include "platform/mmwave.h"

namespace talrec::wave {

// Reads a PCM WAV file's format record and data. False when the file cannot be read or is
// not a PCM WAV file.
bool ReadWavFile(const std::string& path, WAVEFORMATEX* fmt, std::vector<BYTE>* data);

// Writes a PCM WAV file through the one WAV writer: the header at once, the data as it comes,
// the pad and the sizes at Close (or destruction). The sound is played into it piece by piece
// and its length is known only at the end.
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
    struct FileWrite {
        std::FILE* file;
        bool operator()(const BYTE* bytes, std::size_t count) const {
            return std::fwrite(bytes, 1, count, file) == count;
        }
    };

    std::FILE* file_ = nullptr;
    std::optional<WavFileWriter<FileWrite>> wav_;
};

}  // namespace talrec::wave
