// Handles, reads, seeks and the RIFF chunk walk of the multimedia file I/O service.
#include "platform/mmio.h"

#include <climits>
#include <mutex>
#include <utility>

#include "platform/ext/mmiostream.h"
#include "platform/ext/wavformat.h"

struct HMMIO__ {
    std::unique_ptr<IMmioStream> stream;
};

std::unique_ptr<IMmioStream> MmioFileStream(LPCSTR path, DWORD* error);  // mmio_file.cpp

namespace {

std::mutex g_openerLock;
MmioStreamOpener g_opener;  // guarded by g_openerLock; empty means files by name

constexpr long long kMaxPosition = LONG_MAX;

// Reads exactly size bytes; false on a short read or an error.
bool ReadExact(IMmioStream& s, void* buffer, long long size) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        const long long got = s.Read(out, size);
        if (got <= 0) return false;
        out += got;
        size -= got;
    }
    return true;
}

// Reads the chunk header at the current position into ck. The end is the parent's data end, or
// -1 for none.
MMRESULT ReadChunkHeader(IMmioStream& s, MMCKINFO& ck, long long end) {
    const long long start = s.Position();
    if (start < 0 || start + 8 > kMaxPosition) return MMIOERR_CHUNKNOTFOUND;
    if (end >= 0 && start + 8 > end) return MMIOERR_CHUNKNOTFOUND;
    BYTE header[8];
    if (!ReadExact(s, header, 8)) return MMIOERR_CHUNKNOTFOUND;
    ck.ckid = LoadLE32(header);
    ck.cksize = LoadLE32(header + 4);
    ck.dwDataOffset = static_cast<DWORD>(start + 8);
    ck.fccType = 0;
    ck.dwFlags = 0;
    if (ck.ckid == FOURCC_RIFF || ck.ckid == FOURCC_LIST) {
        if (end >= 0 && start + 12 > end) return MMIOERR_CHUNKNOTFOUND;
        BYTE type[4];
        if (!ReadExact(s, type, 4)) return MMIOERR_CHUNKNOTFOUND;
        ck.fccType = LoadLE32(type);
    }
    return MMSYSERR_NOERROR;
}

// Position just past a chunk's data and its pad byte.
long long ChunkEnd(const MMCKINFO& ck) {
    return static_cast<long long>(ck.dwDataOffset) + ck.cksize + (ck.cksize & 1u);
}

bool Matches(const MMCKINFO& found, const MMCKINFO& wanted, UINT flags) {
    if (flags & MMIO_FINDRIFF) return found.ckid == FOURCC_RIFF && found.fccType == wanted.fccType;
    if (flags & MMIO_FINDLIST) return found.ckid == FOURCC_LIST && found.fccType == wanted.fccType;
    if (flags & MMIO_FINDCHUNK) return found.ckid == wanted.ckid;
    return true;
}

}  // namespace

HMMIO mmioOpenStream(std::unique_ptr<IMmioStream> stream) {
    if (!stream) return nullptr;
    return new HMMIO__{std::move(stream)};
}

MmioStreamOpener mmioSetStreamOpener(MmioStreamOpener opener) {
    std::lock_guard lock(g_openerLock);
    return std::exchange(g_opener, std::move(opener));
}

HMMIO mmioOpenA(LPSTR pszFileName, LPMMIOINFO pmmioinfo, DWORD fdwOpen) {
    DWORD error = ERROR_SUCCESS;
    MMRESULT reason = MMIOERR_CANNOTOPEN;
    std::unique_ptr<IMmioStream> stream;
    if (pszFileName == nullptr || (fdwOpen & (MMIO_WRITE | MMIO_READWRITE | MMIO_CREATE)) != 0) {
        error = ERROR_INVALID_PARAMETER;
    } else {
        MmioStreamOpener opener;
        {
            std::lock_guard lock(g_openerLock);
            opener = g_opener;
        }
        if (opener) {
            stream = opener(pszFileName);
            if (!stream) error = ERROR_FILE_NOT_FOUND;
        } else {
            stream = MmioFileStream(pszFileName, &error);
        }
        if (error == ERROR_FILE_NOT_FOUND) reason = MMIOERR_FILENOTFOUND;
        if (error == ERROR_PATH_NOT_FOUND) reason = MMIOERR_PATHNOTFOUND;
        if (error == ERROR_ACCESS_DENIED) reason = MMIOERR_ACCESSDENIED;
    }
    if (!stream) {
        if (pmmioinfo != nullptr) pmmioinfo->wErrorRet = reason;
        SetLastError(error);
        return nullptr;
    }
    if (pmmioinfo != nullptr) pmmioinfo->wErrorRet = MMSYSERR_NOERROR;
    return mmioOpenStream(std::move(stream));
}

MMRESULT mmioClose(HMMIO hmmio, UINT /*fuClose*/) {
    if (hmmio == nullptr) return MMSYSERR_INVALHANDLE;
    delete hmmio;
    return MMSYSERR_NOERROR;
}

LONG mmioRead(HMMIO hmmio, HPSTR pch, LONG cch) {
    if (hmmio == nullptr || cch < 0 || (pch == nullptr && cch > 0)) return -1;
    auto* out = pch;
    long long left = cch;
    while (left > 0) {  // a stream may return less than asked before its end
        const long long got = hmmio->stream->Read(out, left);
        if (got < 0) return -1;
        if (got == 0) break;
        out += got;
        left -= got;
    }
    return static_cast<LONG>(cch - left);
}

LONG mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin) {
    if (hmmio == nullptr) return -1;
    IMmioStream& s = *hmmio->stream;
    long long base = 0;
    switch (iOrigin) {
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = s.Position();
            break;
        case SEEK_END:
            base = s.Length();
            break;
        default:
            return -1;
    }
    if (base < 0) return -1;
    const long long target = base + lOffset;
    if (target < 0 || target > kMaxPosition || !s.SeekTo(target)) return -1;
    return static_cast<LONG>(target);
}

MMRESULT mmioDescend(HMMIO hmmio, LPMMCKINFO pmmcki, LPCMMCKINFO pmmckiParent, UINT fuDescend) {
    if (hmmio == nullptr || pmmcki == nullptr) return MMSYSERR_INVALPARAM;
    IMmioStream& s = *hmmio->stream;
    const long long end =
        pmmckiParent ? static_cast<long long>(pmmckiParent->dwDataOffset) + pmmckiParent->cksize
                     : -1;
    const MMCKINFO wanted = *pmmcki;
    for (;;) {
        MMCKINFO found{};
        const MMRESULT r = ReadChunkHeader(s, found, end);
        if (r != MMSYSERR_NOERROR) return r;
        if (Matches(found, wanted, fuDescend)) {
            *pmmcki = found;
            return MMSYSERR_NOERROR;
        }
        // Step over the chunk and its pad byte; a chunk that claims to reach past what a
        // position can hold ends the search.
        const long long next = ChunkEnd(found);
        if (next > kMaxPosition || !s.SeekTo(next)) return MMIOERR_CHUNKNOTFOUND;
    }
}

MMRESULT mmioAscend(HMMIO hmmio, LPMMCKINFO pmmcki, UINT /*fuAscend*/) {
    if (hmmio == nullptr || pmmcki == nullptr) return MMSYSERR_INVALPARAM;
    const long long next = ChunkEnd(*pmmcki);
    if (next > kMaxPosition || !hmmio->stream->SeekTo(next)) return MMIOERR_CANNOTSEEK;
    return MMSYSERR_NOERROR;
}
