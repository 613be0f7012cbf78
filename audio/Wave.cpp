#include "audio/Wave.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/ext/wavformat.h"

namespace {
[[maybe_unused]] const bool g_registered = (AfxClassInit(&CWave::classCWave), true);

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

CWave::CWave() : format_(MakePcmFormat(1, 22050, 16)) {}

CWave::CWave(const CWave& other)
    : CObject(other), format_(other.format_), store_(other.Store().Snapshot()) {}

CWave& CWave::operator=(const CWave& other) {
    if (this == &other) return *this;
    // The copy is made before the format changes, so a failed allocation leaves the format
    // and the store matching each other. A spooled copy shares the spool, whose frames never
    // change.
    std::unique_ptr<TakeStore> copy = other.Store().Snapshot();
    format_ = other.format_;
    store_ = std::move(copy);
    return *this;
}

CWave::CWave(CWave&& other) noexcept
    : CObject(other), format_(other.format_), store_(std::move(other.store_)) {}

CWave& CWave::operator=(CWave&& other) noexcept {
    if (this == &other) return *this;
    format_ = other.format_;
    store_ = std::move(other.store_);
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
    auto empty = std::make_unique<MemoryTakeStore>(format.nBlockAlign);
    empty->Buffer().SetNumSamples(0, format.nBlockAlign);
    store_ = std::move(empty);
    // The extra size stays as it was.
    const WORD extra = format_.cbSize;
    format_ = format;
    format_.cbSize = extra;
}

const TakeStore& CWave::Store() const {
    static const MemoryTakeStore kEmpty(0);
    if (store_) return *store_;
    return kEmpty;
}

CWaveBuffer& CWave::Memory() const {
    MemoryTakeStore* memory = store_ ? store_->InMemory() : nullptr;
    if (memory == nullptr) {
        std::unique_ptr<MemoryTakeStore> loaded =
            store_ ? store_->Load() : std::make_unique<MemoryTakeStore>(format_.nBlockAlign);
        memory = loaded.get();
        store_ = std::move(loaded);
    }
    return memory->Buffer();
}

DWORD CWave::GetNumSamples() const {
    return static_cast<DWORD>(Store().Frames());
}

DWORD CWave::GetBufferLength() const {
    return static_cast<DWORD>(GetNumSamples() * static_cast<DWORD>(format_.nBlockAlign));
}

BYTE* CWave::GetBuffer() const {
    return store_ ? Memory().GetBuffer() : nullptr;
}

void CWave::SetBuffer(BYTE* pBuffer, DWORD nNumSamples, bool bCopy) {
    const WORD align = format_.nBlockAlign;
    if (bCopy) {
        // Copied into the store as it stands, spooled frames included.
        Memory().CopyBuffer(pBuffer, nNumSamples, align);
        return;
    }
    // A store in memory adopts the block itself (it may be the block it holds already).
    if (MemoryTakeStore* memory = store_ ? store_->InMemory() : nullptr) {
        memory->Buffer().SetBuffer(pBuffer, nNumSamples, align);
        return;
    }
    std::unique_ptr<BYTE[]> adopted(pBuffer);
    auto memory = std::make_unique<MemoryTakeStore>(align);
    memory->Buffer().SetBuffer(adopted.release(), nNumSamples, align);
    store_ = std::move(memory);
}

void CWave::SetStore(std::unique_ptr<TakeStore> take) {
    store_ = std::move(take);
}

void CWave::SetSpool(WaveSpoolPtr spool, DWORD nNumSamples) {
    SetStore(
        spool ? std::make_unique<SpoolTakeStore>(std::move(spool), format_.nBlockAlign, nNumSamples)
              : nullptr);
}

void CWave::Load(LPCSTR lpszPath) {
    CFile file(lpszPath, CFile::modeRead | CFile::shareExclusive);
    Load(file);
    file.Close();
}

void CWave::Save(LPCSTR lpszPath) {
    Store().Save(lpszPath, format_, GetBufferLength());
}

void CWave::KeepForRecovery(const std::string& destination) const {
    Store().KeepForRecovery(destination, format_);
}

void CWave::Save(CFile& file) {
    Store().Write(file, format_, GetBufferLength());
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
    // The store holds the whole frames that the data size declares and the file holds: a
    // file that ends early gives fewer frames, never storage that no byte of the file filled
    // (and a few header bytes cannot make the reader claim gigabytes).
    const ULONGLONG length = file.GetLength();
    const ULONGLONG position = file.GetPosition();
    const ULONGLONG remaining = length > position ? length - position : 0;
    const DWORD available = static_cast<DWORD>(std::min<ULONGLONG>(declared, remaining));
    const DWORD frames = available / format.nBlockAlign;
    auto memory = std::make_unique<MemoryTakeStore>(format.nBlockAlign);
    memory->Buffer().SetNumSamples(frames, format.nBlockAlign);
    store_ = std::move(memory);

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
