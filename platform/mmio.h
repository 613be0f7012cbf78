// The multimedia file I/O service for RIFF files: mmioOpenA, mmioDescend, mmioAscend, mmioRead,
// mmioSeek and mmioClose with their published names, records and result codes, over the
// kernel's file handles.
//
// Contract the callers rely on:
// - A handle reads one byte stream. Files opened by name are opened for reading only (the only
//   mode the system uses), and only regular files are (CreateFileA); every position is an
//   absolute byte offset that fits in a LONG, so streams of 2 GiB and more are read only up to
//   that limit, as with the 32-bit service.
// - mmioDescend reads the 8-byte chunk header at the current position (and the form type of a
//   "RIFF" or "LIST" chunk) and fills ckid, cksize, fccType and dwDataOffset. With a parent it
//   never reads past the parent's declared end: a header that does not fit before that end is
//   "chunk not found". It does not check the chunk's own size against anything; that is the
//   caller's business. MMIO_FINDRIFF / MMIO_FINDLIST / MMIO_FINDCHUNK step over chunks (and
//   their pad bytes) until one matches.
// - mmioAscend moves to the end of the chunk's data plus its pad byte when cksize is odd.
// - Under a handle is a byte stream: a file by default, or any stream a test or fuzz target
//   supplies (platform/ext/mmiostream.h).
// - Handles are used from one thread at a time.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include <cstdio>

#include "platform/mmwave.h"
#include "platform/windef.h"

using FOURCC = DWORD;
using HPSTR = char*;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return static_cast<FOURCC>(static_cast<BYTE>(a)) |
           (static_cast<FOURCC>(static_cast<BYTE>(b)) << 8) |
           (static_cast<FOURCC>(static_cast<BYTE>(c)) << 16) |
           (static_cast<FOURCC>(static_cast<BYTE>(d)) << 24);
}

inline constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
inline constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');

struct HMMIO__;
using HMMIO = HMMIO__*;

// Chunk information, as mmioDescend fills it.
struct MMCKINFO {
    FOURCC ckid;         // chunk id
    DWORD cksize;        // declared size of the chunk's data
    FOURCC fccType;      // form type of a "RIFF" or "LIST" chunk
    DWORD dwDataOffset;  // file offset of the chunk's data (just past the 8-byte header)
    DWORD dwFlags;
};
using LPMMCKINFO = MMCKINFO*;
using LPCMMCKINFO = const MMCKINFO*;

// The information block of mmioOpenA. Only wErrorRet is used: it receives the reason when the
// open fails. Custom I/O procedures and memory files go through IMmioStream instead.
struct MMIOINFO {
    DWORD dwFlags;
    FOURCC fccIOProc;
    void* pIOProc;
    UINT wErrorRet;
    void* htask;
    LONG cchBuffer;
    HPSTR pchBuffer;
    HPSTR pchNext;
    HPSTR pchEndRead;
    HPSTR pchEndWrite;
    LONG lBufOffset;
    LONG lDiskOffset;
    DWORD adwInfo[3];
    DWORD dwReserved1;
    DWORD dwReserved2;
    HMMIO hmmio;
};
using LPMMIOINFO = MMIOINFO*;

// mmioOpenA flags; reading is the only mode supported.
inline constexpr DWORD MMIO_READ = 0x00000000;
inline constexpr DWORD MMIO_WRITE = 0x00000001;
inline constexpr DWORD MMIO_READWRITE = 0x00000002;
inline constexpr DWORD MMIO_CREATE = 0x00001000;

// mmioDescend flags.
inline constexpr UINT MMIO_FINDCHUNK = 0x0010;
inline constexpr UINT MMIO_FINDRIFF = 0x0020;
inline constexpr UINT MMIO_FINDLIST = 0x0040;

// Result codes.
inline constexpr MMRESULT MMIOERR_BASE = 256;
inline constexpr MMRESULT MMIOERR_FILENOTFOUND = MMIOERR_BASE + 1;
inline constexpr MMRESULT MMIOERR_OUTOFMEMORY = MMIOERR_BASE + 2;
inline constexpr MMRESULT MMIOERR_CANNOTOPEN = MMIOERR_BASE + 3;
inline constexpr MMRESULT MMIOERR_CANNOTCLOSE = MMIOERR_BASE + 4;
inline constexpr MMRESULT MMIOERR_CANNOTREAD = MMIOERR_BASE + 5;
inline constexpr MMRESULT MMIOERR_CANNOTWRITE = MMIOERR_BASE + 6;
inline constexpr MMRESULT MMIOERR_CANNOTSEEK = MMIOERR_BASE + 7;
inline constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = MMIOERR_BASE + 9;
inline constexpr MMRESULT MMIOERR_PATHNOTFOUND = MMIOERR_BASE + 11;
inline constexpr MMRESULT MMIOERR_ACCESSDENIED = MMIOERR_BASE + 12;
inline constexpr MMRESULT MMIOERR_INVALIDFILE = MMIOERR_BASE + 16;

// mmioSeek takes the C library's origins SEEK_SET, SEEK_CUR and SEEK_END (<cstdio>).

// Opens a file. pmmioinfo may be null; with MMIO_READ (0) the file is opened for reading only.
// Other modes are refused (MMIOERR_CANNOTOPEN). Returns null on failure and sets the last error.
HMMIO mmioOpenA(LPSTR pszFileName, LPMMIOINFO pmmioinfo, DWORD fdwOpen);
MMRESULT mmioClose(HMMIO hmmio, UINT fuClose);
// Reads up to cch bytes; returns the count read, 0 at the end, -1 on an error.
LONG mmioRead(HMMIO hmmio, HPSTR pch, LONG cch);
// Moves to lOffset from iOrigin (SEEK_SET, SEEK_CUR, SEEK_END); returns the new position, or -1
// when the position would be negative or beyond what a LONG holds, or the stream cannot seek.
LONG mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin);
MMRESULT mmioDescend(HMMIO hmmio, LPMMCKINFO pmmcki, LPCMMCKINFO pmmckiParent, UINT fuDescend);
MMRESULT mmioAscend(HMMIO hmmio, LPMMCKINFO pmmcki, UINT fuAscend);

#endif  // _WIN32
