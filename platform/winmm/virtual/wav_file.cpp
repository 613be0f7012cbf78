#include "platform/winmm/virtual/wav_file.h"

#include <algorithm>
#include <memory>

#include "platform/ext/wavformat.h"
#include "platform/mmio.h"

namespace talrec::wave {
namespace {

constexpr WORD kExtensible = 0xFFFE;

struct MmioCloser {
    void operator()(HMMIO h) const { mmioClose(h, 0); }
};

// Reads the format record of the "fmt " chunk that the handle stands at the start of.
bool ReadFormat(HMMIO h, const MMCKINFO& chunk, WAVEFORMATEX* fmt) {
    BYTE f[kPcmFormatBytes];
    if (chunk.cksize < sizeof f ||
        mmioRead(h, reinterpret_cast<HPSTR>(f), sizeof f) != static_cast<LONG>(sizeof f))
        return false;
    *fmt = ReadFormatRecord(f, sizeof f);
    if (fmt->wFormatTag != WAVE_FORMAT_PCM && fmt->wFormatTag != kExtensible) return false;
    fmt->wFormatTag = WAVE_FORMAT_PCM;
    return true;
}

}  // namespace

// The "fmt " chunk, then the first "data" chunk after it, found by the multimedia file I/O's
// chunk walk. A data chunk that claims more than the file holds gives what the file holds.
bool ReadWavFile(const std::string& path, WAVEFORMATEX* fmt, std::vector<BYTE>* data) {
    const std::unique_ptr<HMMIO__, MmioCloser> file(
        mmioOpenA(const_cast<LPSTR>(path.c_str()), nullptr, MMIO_READ));
    const HMMIO h = file.get();
    if (!h) return false;
    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    if (mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR) return false;
    MMCKINFO chunk{};
    chunk.ckid = mmioFOURCC('f', 'm', 't', ' ');
    if (mmioDescend(h, &chunk, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR ||
        !ReadFormat(h, chunk, fmt) || mmioAscend(h, &chunk, 0) != MMSYSERR_NOERROR)
        return false;
    chunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
    if (mmioDescend(h, &chunk, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return false;
    const LONG end = mmioSeek(h, 0, SEEK_END);
    if (end < 0 || mmioSeek(h, static_cast<LONG>(chunk.dwDataOffset), SEEK_SET) < 0) return false;
    const DWORD held = static_cast<DWORD>(end) - chunk.dwDataOffset;
    data->resize((std::min)(chunk.cksize, held));
    const LONG want = static_cast<LONG>(data->size());
    return mmioRead(h, reinterpret_cast<HPSTR>(data->data()), want) == want;
}

bool WavWriter::Open(const std::string& path, const WAVEFORMATEX& fmt) {
    Close();
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return false;
    wav_.emplace(fmt, FileWrite{file_}, true);
    if (!wav_->Begin()) {
        Close();
        return false;
    }
    return true;
}

bool WavWriter::Write(const BYTE* data, std::size_t bytes) {
    return file_ && wav_->Append(data, bytes);
}

void WavWriter::Close() {
    if (!file_) return;
    // Nothing is left to tell of a failure here: the device is closing.
    static_cast<void>(wav_->Finish([this] { return std::fseek(file_, 0, SEEK_SET) == 0; }));
    wav_.reset();
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace talrec::wave
