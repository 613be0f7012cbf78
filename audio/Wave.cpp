#include "audio/Wave.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/wavheader.h"

namespace {
// Tags the reader expects at fixed offsets: "RIFF" at 0, "WAVEfmt " at 8, "data" at 36.
constexpr char kRiffTag[4] = {'R', 'I', 'F', 'F'};
constexpr char kWaveFmtTag[8] = {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
constexpr char kDataTag[4] = {'d', 'a', 't', 'a'};

[[maybe_unused]] const bool g_registered = (AfxClassInit(&CWave::classCWave), true);

// Each field is read into cleared bytes: what a short read leaves out reads as zero.
WORD ReadLE16(CFile& file) {
    BYTE bytes[2] = {};
    file.Read(bytes, sizeof bytes);
    return static_cast<WORD>(bytes[0] | (bytes[1] << 8));
}

DWORD ReadLE32(CFile& file) {
    BYTE bytes[4] = {};
    file.Read(bytes, sizeof bytes);
    return static_cast<DWORD>(bytes[0]) | (static_cast<DWORD>(bytes[1]) << 8) |
           (static_cast<DWORD>(bytes[2]) << 16) | (static_cast<DWORD>(bytes[3]) << 24);
}

template <std::size_t N>
bool ReadTag(CFile& file, const char (&expected)[N]) {
    char tag[N] = {};
    file.Read(tag, N);
    return std::memcmp(tag, expected, N) == 0;
}

[[noreturn]] void ThrowInvalidFile(const CFile& file) {
    AfxThrowFileException(CFileException::invalidFile, -1, file.GetFilePath().c_str());
}
}  // namespace

const CRuntimeClass CWave::classCWave = {"CWave", sizeof(CWave), 1, &CWave::CreateObject,
                                         &CObject::classCObject};

CObject* CWave::CreateObject() {
    return new CWave;
}

const CRuntimeClass* CWave::GetRuntimeClass() const {
    return &classCWave;
}

CWave::CWave() : format_{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0} {}

CWave::CWave(const CWave& other) : CObject(other), format_(other.format_) {
    const WORD align = format_.nBlockAlign;
    samples_.SetNumSamples(other.GetNumSamples(), align);
    samples_.CopyBuffer(other.GetBuffer(), other.GetNumSamples(), align);
}

CWave& CWave::operator=(const CWave& other) {
    if (this == &other) return *this;
    // The new storage is made before the format changes, so a failed allocation leaves the
    // format and the store matching each other.
    const WORD align = other.format_.nBlockAlign;
    samples_.SetNumSamples(other.GetNumSamples(), align);
    format_ = other.format_;
    samples_.CopyBuffer(other.GetBuffer(), other.GetNumSamples(), align);
    return *this;
}

CWave::CWave(CWave&& other) noexcept
    : CObject(other), samples_(std::move(other.samples_)), format_(other.format_) {}

CWave& CWave::operator=(CWave&& other) noexcept {
    if (this == &other) return *this;
    samples_ = std::move(other.samples_);
    format_ = other.format_;
    return *this;
}

CWave::~CWave() = default;

void CWave::Serialize(CArchive& ar) {
    if (ar.IsLoading()) {
        Load(*ar.GetFile());
    } else {
        Save(*ar.GetFile());
    }
}

void CWave::SetFormat(WORD nChannels, DWORD nSamplesPerSec, WORD wBitsPerSample) {
    const DWORD channelBits = static_cast<DWORD>(nChannels) * wBitsPerSample;
    const WORD align = static_cast<WORD>(channelBits / 8);
    samples_.SetNumSamples(0, align);
    format_.wFormatTag = WAVE_FORMAT_PCM;
    format_.nChannels = nChannels;
    format_.nSamplesPerSec = nSamplesPerSec;
    format_.nAvgBytesPerSec = static_cast<DWORD>(channelBits * nSamplesPerSec) / 8;
    format_.nBlockAlign = align;
    format_.wBitsPerSample = wBitsPerSample;
}

DWORD CWave::GetBufferLength() const {
    return static_cast<DWORD>(GetNumSamples() * static_cast<DWORD>(format_.nBlockAlign));
}

void CWave::SetBuffer(BYTE* pBuffer, DWORD nNumSamples, bool bCopy) {
    const WORD align = format_.nBlockAlign;
    if (bCopy) {
        samples_.CopyBuffer(pBuffer, nNumSamples, align);
    } else {
        samples_.SetBuffer(pBuffer, nNumSamples, align);
    }
}

void CWave::Load(LPCSTR lpszPath) {
    CFile file(lpszPath, CFile::modeRead | CFile::shareExclusive);
    Load(file);
    file.Close();
}

void CWave::Save(LPCSTR lpszPath) {
    CFile file(lpszPath, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
    Save(file);
    file.Close();
}

void CWave::Save(CFile& file) {
    const DWORD dataSize = GetBufferLength();
    WriteWavHeader(format_, dataSize,
                   [&](const BYTE* bytes, UINT count) { file.Write(bytes, count); });
    file.Write(GetBuffer(), dataSize);
}

void CWave::Load(CFile& file) {
    if (!ReadTag(file, kRiffTag)) ThrowInvalidFile(file);
    ReadLE32(file);  // RIFF size: not trusted, not needed
    if (!ReadTag(file, kWaveFmtTag)) ThrowInvalidFile(file);
    ReadLE32(file);  // fmt size: the next 16 bytes are the format whatever it says
    WAVEFORMATEX format{};
    format.wFormatTag = ReadLE16(file);
    format.nChannels = ReadLE16(file);
    format.nSamplesPerSec = ReadLE32(file);
    format.nAvgBytesPerSec = ReadLE32(file);
    format.nBlockAlign = ReadLE16(file);
    format.wBitsPerSample = ReadLE16(file);
    format.cbSize = 0;
    if (!ReadTag(file, kDataTag)) ThrowInvalidFile(file);
    // Frames are counted in block aligns: a file without a frame size has no frames.
    if (format.nBlockAlign == 0) ThrowInvalidFile(file);

    format_ = format;
    const DWORD declared = ReadLE32(file);
    // The store holds the whole frames that the data size declares and the file holds: a
    // file that ends early gives fewer frames, never storage that no byte of the file filled
    // (and a few header bytes cannot make the reader claim gigabytes).
    const ULONGLONG length = file.GetLength();
    const ULONGLONG position = file.GetPosition();
    const ULONGLONG remaining = length > position ? length - position : 0;
    const DWORD available = static_cast<DWORD>(std::min<ULONGLONG>(declared, remaining));
    const DWORD frames = available / format.nBlockAlign;
    samples_.SetNumSamples(frames, format.nBlockAlign);

    // Only whole frames are read; bytes of a partial last frame stay in the file. Whatever
    // the read does not fill (a file cut short meanwhile, a failed read) is zeroed, so the
    // store never holds stale memory.
    const UINT bytes = static_cast<UINT>(frames * static_cast<DWORD>(format.nBlockAlign));
    UINT got = 0;
    try {
        got = file.Read(GetBuffer(), bytes);
    } catch (...) {
        std::memset(GetBuffer(), 0, bytes);
        throw;
    }
    if (got < bytes) std::memset(GetBuffer() + got, 0, bytes - got);
}
