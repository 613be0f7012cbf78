#include "platform/winmm/virtual/wav_file.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/wavheader.h"

namespace talrec::wave {
namespace {

DWORD Le32(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 |
           static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[3]) << 24;
}
WORD Le16(const BYTE* p) {
    return static_cast<WORD>(p[0] | p[1] << 8);
}

constexpr WORD kExtensible = 0xFFFE;

}  // namespace

bool ReadWavFile(const std::string& path, WAVEFORMATEX* fmt, std::vector<BYTE>* data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::vector<BYTE> file((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(file.data() + 8, "WAVE", 4) != 0)
        return false;
    bool haveFmt = false;
    std::size_t pos = 12;
    while (file.size() - pos >= 8) {
        const BYTE* chunk = file.data() + pos;
        const std::size_t size = Le32(chunk + 4);
        const std::size_t body = pos + 8;
        const std::size_t avail = std::min(size, file.size() - body);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && avail >= 16) {
            const BYTE* f = file.data() + body;
            fmt->wFormatTag = Le16(f);
            fmt->nChannels = Le16(f + 2);
            fmt->nSamplesPerSec = Le32(f + 4);
            fmt->nAvgBytesPerSec = Le32(f + 8);
            fmt->nBlockAlign = Le16(f + 12);
            fmt->wBitsPerSample = Le16(f + 14);
            fmt->cbSize = 0;
            if (fmt->wFormatTag != WAVE_FORMAT_PCM && fmt->wFormatTag != kExtensible) return false;
            fmt->wFormatTag = WAVE_FORMAT_PCM;
            haveFmt = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && haveFmt) {
            data->assign(file.begin() + static_cast<std::ptrdiff_t>(body),
                         file.begin() + static_cast<std::ptrdiff_t>(body + avail));
            return true;
        }
        if (size > file.size() - body) break;
        pos = body + size + (size & 1);
    }
    return false;
}

bool WavWriter::Open(const std::string& path, const WAVEFORMATEX& fmt) {
    Close();
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return false;
    format_ = fmt;
    dataBytes_ = 0;
    const auto header = WavHeader(format_, 0);
    if (std::fwrite(header.data(), header.size(), 1, file_) != 1) {
        Close();
        return false;
    }
    return true;
}

bool WavWriter::Write(const BYTE* data, std::size_t bytes) {
    if (!file_) return false;
    if (bytes == 0) return true;
    if (std::fwrite(data, 1, bytes, file_) != bytes) return false;
    dataBytes_ += bytes;
    return true;
}

void WavWriter::Close() {
    if (!file_) return;
    const DWORD data = static_cast<DWORD>(std::min<std::uint64_t>(dataBytes_, 0xFFFFFFFFu - 38));
    const DWORD pad = data & 1;  // chunks are word-aligned
    if (pad) std::fputc(0, file_);
    const auto header = WavHeader(format_, data, pad);
    std::fseek(file_, 0, SEEK_SET);
    std::fwrite(header.data(), header.size(), 1, file_);
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace talrec::wave
