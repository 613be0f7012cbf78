#include "convert/WavReader.h"

#include <algorithm>

#include "platform/ext/wavformat.h"

namespace {

constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
constexpr LONG kReadStep = 65536;

}  // namespace

int CWavReader::Open(LPCSTR path) {
    formatBlock.clear();
    dataSize = 0;
    dataOffset = 0;

    // With no information block and no flags the file is opened for reading only; the name is
    // not written to.
    file = mmioOpenA(const_cast<LPSTR>(path), nullptr, 0);
    if (file == nullptr) return -1;

    MMCKINFO riff{};
    riff.fccType = kWave;
    if (mmioDescend(file, &riff, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR) return Fail();
    // Sums are taken in 64 bits, so that a size near 4 GiB cannot wrap round and let a chunk
    // that reaches past the RIFF chunk's end through.
    const unsigned long long riffEnd =
        static_cast<unsigned long long>(riff.dwDataOffset) + riff.cksize;

    for (;;) {
        MMCKINFO chunk{};
        if (mmioDescend(file, &chunk, &riff, 0) != MMSYSERR_NOERROR) break;
        if (static_cast<unsigned long long>(chunk.dwDataOffset) + chunk.cksize > riffEnd) {
            return Fail();
        }
        if (chunk.ckid == kFmt && formatBlock.empty()) {
            if (!ReadFormat(chunk)) return Fail();
        } else if (chunk.ckid == kData && dataSize == 0) {
            dataSize = chunk.cksize;
            dataOffset = chunk.dwDataOffset;
        }
        // Past the data and the pad byte; a chunk that cannot be stepped over ends the walk.
        if (mmioAscend(file, &chunk, 0) != MMSYSERR_NOERROR) break;
    }

    if (!formatBlock.empty() && dataSize != 0) return 1;
    return Fail();
}

// Reads the chunk's whole body into the format block. The block grows with the bytes that
// actually arrive, so a declared size far beyond the file's length costs no memory before the
// short read rejects it.
bool CWavReader::ReadFormat(const MMCKINFO& chunk) {
    std::vector<BYTE> block;
    DWORD left = chunk.cksize;
    while (left > 0) {
        const LONG step = static_cast<LONG>(std::min<DWORD>(left, kReadStep));
        const size_t at = block.size();
        block.resize(at + static_cast<size_t>(step));
        if (mmioRead(file, reinterpret_cast<HPSTR>(block.data() + at), step) != step) {
            return false;
        }
        left -= static_cast<DWORD>(step);
    }
    // At least the 18-byte format record, the bytes beyond the chunk zero.
    if (block.size() < kFormatRecordBytes) block.resize(kFormatRecordBytes, 0);
    const WAVEFORMATEX record = ReadFormatRecord(block.data(), block.size());
    if (record.wFormatTag == WAVE_FORMAT_PCM) {
        block[16] = 0;
        block[17] = 0;
    } else {
        // The writer learns the block's length only from the extra-size field; make every byte
        // that field claims readable (zero where the chunk ended early).
        const size_t claimed = kFormatRecordBytes + record.cbSize;
        if (block.size() < claimed) block.resize(claimed, 0);
    }
    formatBlock = std::move(block);
    return true;
}

int CWavReader::Fail() {
    mmioClose(file, 0);
    file = nullptr;
    formatBlock.clear();
    formatBlock.shrink_to_fit();
    dataOffset = 0;
    dataSize = 0;
    return -1;
}

void CWavReader::Close() {
    if (file == nullptr) return;
    formatBlock.clear();
    formatBlock.shrink_to_fit();
    mmioClose(file, 0);
    file = nullptr;
}
