#include "audio/Wave.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/debugapi.h"
#include "platform/ext/wavformat.h"

using talrec::platform::RecordingSpool;

namespace {
[[maybe_unused]] const bool g_registered = (AfxClassInit(&CWave::classCWave), true);

[[noreturn]] void ThrowInvalidFile(const CFile& file) {
    AfxThrowFileException(CFileException::invalidFile, -1, file.GetFilePath().c_str());
}

// Spooled sounds are loaded into memory in pieces of this size.
constexpr DWORD kSpoolPiece = 1 << 20;
// A sound moved into a spool goes in appends of this size, flushed every kSpoolFlushEvery:
// the spool's ring takes them without holding a second copy of the sound aside.
constexpr std::size_t kSpoolAppend = 64 * 1024;
constexpr std::size_t kSpoolFlushEvery = 128 * 1024;
}  // namespace

bool SpoolForRecovery(const std::string& destination, const WAVEFORMATEX& format,
                      std::span<const std::span<const BYTE>> pieces) {
    std::size_t bytes = 0;
    for (const auto& piece : pieces) bytes += piece.size();
    if (bytes == 0) return true;  // nothing to keep
    const std::unique_ptr<RecordingSpool> spool = RecordingSpool::Create(destination, format);
    if (spool == nullptr) {
        const std::string text = "the recording meant for " + destination +
                                 " is lost: it was held in memory, and no recording spool can "
                                 "be made for it";
        OutputDebugStringA(text.c_str());
        return false;
    }
    std::size_t sinceFlush = 0;
    for (const auto& piece : pieces) {
        for (std::size_t at = 0; at < piece.size(); at += kSpoolAppend) {
            const std::size_t n = std::min(kSpoolAppend, piece.size() - at);
            spool->Append(piece.data() + at, n);
            if ((sinceFlush += n) >= kSpoolFlushEvery) {
                spool->Flush();
                sinceFlush = 0;
            }
        }
    }
    spool->Leave();  // the spool goes, the left file stays
    return true;
}

const CRuntimeClass CWave::classCWave = {"CWave", sizeof(CWave), 1, &CWave::CreateObject,
                                         &CObject::classCObject};

CObject* CWave::CreateObject() {
    return new CWave;
}

const CRuntimeClass* CWave::GetRuntimeClass() const {
    return &classCWave;
}

CWave::CWave() : format_(MakePcmFormat(1, 22050, 16)) {}

CWave::CWave(const CWave& other)
    : CObject(other),
      format_(other.format_),
      spool_(other.spool_),
      spoolFrames_(other.spoolFrames_) {
    if (spool_) return;  // the same spooled frames, which never change
    const WORD align = format_.nBlockAlign;
    samples_.SetNumSamples(other.GetNumSamples(), align);
    samples_.CopyBuffer(other.GetBuffer(), other.GetNumSamples(), align);
}

CWave& CWave::operator=(const CWave& other) {
    if (this == &other) return *this;
    if (other.spool_) {
        samples_.SetBuffer(nullptr, 0, other.format_.nBlockAlign);
        format_ = other.format_;
        spool_ = other.spool_;
        spoolFrames_ = other.spoolFrames_;
        return *this;
    }
    // The new storage is made before the format changes, so a failed allocation leaves the
    // format and the store matching each other.
    const WORD align = other.format_.nBlockAlign;
    samples_.SetNumSamples(other.GetNumSamples(), align);
    format_ = other.format_;
    spool_.reset();
    samples_.CopyBuffer(other.GetBuffer(), other.GetNumSamples(), align);
    return *this;
}

CWave::CWave(CWave&& other) noexcept
    : CObject(other),
      samples_(std::move(other.samples_)),
      format_(other.format_),
      spool_(std::move(other.spool_)),
      spoolFrames_(std::exchange(other.spoolFrames_, 0)) {}

CWave& CWave::operator=(CWave&& other) noexcept {
    if (this == &other) return *this;
    samples_ = std::move(other.samples_);
    format_ = other.format_;
    spool_ = std::move(other.spool_);
    spoolFrames_ = std::exchange(other.spoolFrames_, 0);
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
    const WAVEFORMATEX format = MakePcmFormat(nChannels, nSamplesPerSec, wBitsPerSample);
    samples_.SetNumSamples(0, format.nBlockAlign);
    spool_.reset();
    // The extra size stays as it was.
    const WORD extra = format_.cbSize;
    format_ = format;
    format_.cbSize = extra;
}

DWORD CWave::GetBufferLength() const {
    return static_cast<DWORD>(GetNumSamples() * static_cast<DWORD>(format_.nBlockAlign));
}

BYTE* CWave::GetBuffer() const {
    if (spool_) LoadFromSpool();
    return samples_.GetBuffer();
}

void CWave::SetBuffer(BYTE* pBuffer, DWORD nNumSamples, bool bCopy) {
    const WORD align = format_.nBlockAlign;
    if (bCopy) {
        // Copied into the store as it stands, spooled frames included.
        if (spool_) LoadFromSpool();
        samples_.CopyBuffer(pBuffer, nNumSamples, align);
    } else {
        samples_.SetBuffer(pBuffer, nNumSamples, align);
        spool_.reset();
    }
}

void CWave::SetSpool(WaveSpoolPtr spool, DWORD nNumSamples) {
    samples_.SetBuffer(nullptr, 0, format_.nBlockAlign);
    spool_ = std::move(spool);
    spoolFrames_ = spool_ ? nNumSamples : 0;
}

void CWave::LoadFromSpool() const {
    const WORD align = format_.nBlockAlign;
    samples_.SetNumSamples(spoolFrames_, align);
    const std::uint64_t bytes = static_cast<std::uint64_t>(spoolFrames_) * align;
    std::uint64_t done = 0;
    while (done < bytes) {
        const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(bytes - done, kSpoolPiece));
        const auto got = static_cast<DWORD>(spool_->Read(done, samples_.GetBuffer() + done, want));
        done += got;
        if (got < want) break;
    }
    // A spool that gives less than it holds (its file damaged meanwhile) leaves silence, never
    // stale memory.
    if (done < bytes) std::memset(samples_.GetBuffer() + done, 0, bytes - done);
    spool_.reset();
}

void CWave::Load(LPCSTR lpszPath) {
    CFile file(lpszPath, CFile::modeRead | CFile::shareExclusive);
    Load(file);
    file.Close();
}

void CWave::Save(LPCSTR lpszPath) {
    if (spool_) {
        // Written from the spool's file to the new one, without loading it; failures raise what
        // the file layer would raise for them.
        const DWORD error = lpszPath != nullptr
                                ? spool_->WriteWav(lpszPath, format_, GetBufferLength())
                                : static_cast<DWORD>(ERROR_INVALID_PARAMETER);
        if (error != ERROR_SUCCESS) {
            CFileException::ThrowOsError(static_cast<LONG>(error), lpszPath ? lpszPath : "");
        }
        return;
    }
    CFile file(lpszPath, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
    Save(file);
    file.Close();
}

void CWave::KeepForRecovery(const std::string& destination) const {
    if (spool_) {
        spool_->Leave();
        return;
    }
    const std::span<const BYTE> sound(samples_.GetBuffer(), GetBufferLength());
    SpoolForRecovery(destination, format_, {&sound, 1});
}

void CWave::Save(CFile& file) {
    const BYTE* held = spool_ ? nullptr : samples_.GetBuffer();
    // Write failures raise what the file raises; reads never fall short: a spool that gives
    // less than it holds (its file damaged meanwhile) gives silence for the rest.
    const bool written = WriteWavFile(
        format_, GetBufferLength(),
        [&](DWORD offset, BYTE* piece, std::size_t bytes) {
            if (held != nullptr) {
                std::memcpy(piece, held + offset, bytes);
                return bytes;
            }
            const std::size_t got = spool_->Read(offset, piece, bytes);
            std::memset(piece + got, 0, bytes - got);
            return bytes;
        },
        [&](const BYTE* bytes, std::size_t count) {
            file.Write(bytes, static_cast<UINT>(count));
            return true;
        });
    static_cast<void>(written);
}

void CWave::Load(CFile& file) {
    // The header is read into cleared bytes: what a short read leaves out reads as zero.
    BYTE header[kWavHeaderBytes] = {};
    file.Read(header, sizeof header);
    WAVEFORMATEX format{};
    DWORD declared = 0;
    if (!ReadWavHeader(header, &format, &declared)) ThrowInvalidFile(file);
    // Frames are counted in block aligns: a file without a frame size has no frames.
    if (format.nBlockAlign == 0) ThrowInvalidFile(file);

    format_ = format;
    spool_.reset();
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
