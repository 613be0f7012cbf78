#include "AudioWriter.h"

extern "C" {
#include <libavutil/error.h>
}

#include <algorithm>
#include <cerrno>

namespace {

constexpr DWORD kMinBitRate = 24000;
constexpr DWORD kMaxBitRate = 384000;

HRESULT FromWin32(DWORD code) {
    return static_cast<HRESULT>(0x80070000u | (code & 0xFFFFu));
}

}  // namespace

HRESULT StatusFromAvError(int averror) {
    switch (averror) {
        case AVERROR(ENOENT):
        case AVERROR(ENOTDIR):
            return FromWin32(ERROR_PATH_NOT_FOUND);
        case AVERROR(EACCES):
        case AVERROR(EPERM):
        case AVERROR(EROFS):
        case AVERROR(EISDIR):
            return FromWin32(ERROR_ACCESS_DENIED);
        case AVERROR(ENOSPC):
            return FromWin32(ERROR_DISK_FULL);
        case AVERROR(ENAMETOOLONG):
            return FromWin32(ERROR_FILENAME_EXCED_RANGE);
        case AVERROR(ENOMEM):
            return E_OUTOFMEMORY;
        case AVERROR(EINVAL):
            return E_INVALIDARG;
        default:
            return E_FAIL;
    }
}

HRESULT CAudioWriter::Create(const std::string& path) {
    const int r = m_encoder.CreateFile(path);
    return r < 0 ? StatusFromAvError(r) : S_OK;
}

HRESULT CAudioWriter::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IWMAudioWriter) {
        *object = static_cast<IWMAudioWriter*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CAudioWriter::AddRef() {
    return ++m_refs;
}

ULONG CAudioWriter::Release() {
    const ULONG left = --m_refs;
    if (left == 0) delete this;  // an unfinished file still gets its trailer (Encoder)
    return left;
}

HRESULT CAudioWriter::GetOutputProps(void** props) {
    if (props != nullptr) *props = nullptr;
    return E_NOTIMPL;
}

HRESULT CAudioWriter::SetAttribute(const void*) {
    return E_NOTIMPL;
}

HRESULT CAudioWriter::SetInputFormat(const void* format) {
    if (m_state != State::Created && m_state != State::InputSet) return E_UNEXPECTED;
    InputFormat in;
    if (!ParseInputFormat(format, in) || !Encoder::CanConvert(in)) return E_INVALIDARG;
    m_in = in;
    m_state = State::InputSet;
    return S_OK;
}

HRESULT CAudioWriter::SetOutputFormat(DWORD channels, DWORD samplesPerSec, DWORD bitsPerSec,
                                      DWORD reserved) {
    if (m_state != State::InputSet) return E_UNEXPECTED;
    OutputFormat out = DefaultOutputFor(m_in);
    if (reserved != 0 || channels > 2 || samplesPerSec > 48000 ||
        (samplesPerSec != 0 && samplesPerSec < 8000) ||
        (bitsPerSec != 0 && (bitsPerSec < kMinBitRate || bitsPerSec > kMaxBitRate))) {
        return E_INVALIDARG;
    }
    if (channels != 0) {
        out.channels = static_cast<int>(channels);
        if (bitsPerSec == 0) out.bitRate = out.channels == 1 ? 64000 : 128000;
    }
    if (samplesPerSec != 0) out.sampleRate = static_cast<int>(samplesPerSec);
    if (bitsPerSec != 0) out.bitRate = bitsPerSec;
    const int r = m_encoder.Start(m_in, out);
    if (r < 0) return Fail(r);
    m_partial.reserve(static_cast<size_t>(m_in.blockAlign));
    m_state = State::Writing;
    return S_OK;
}

HRESULT CAudioWriter::Write(const BYTE* data, DWORD count) {
    if (m_state == State::Failed) return m_failure;
    if (m_state != State::Writing) return E_UNEXPECTED;
    if (count == 0) return S_OK;
    if (data == nullptr) return E_POINTER;
    const size_t frameBytes = static_cast<size_t>(m_in.blockAlign);
    size_t left = count;
    // Complete the frame carried over from the last write.
    if (!m_partial.empty()) {
        const size_t take = std::min(left, frameBytes - m_partial.size());
        m_partial.insert(m_partial.end(), data, data + take);
        data += take;
        left -= take;
        if (m_partial.size() < frameBytes) return S_OK;
        const int r = m_encoder.Push(m_partial.data(), 1);
        m_partial.clear();
        if (r < 0) return Fail(r);
    }
    const size_t frames = left / frameBytes;
    if (frames > 0) {
        const int r = m_encoder.Push(data, frames);
        if (r < 0) return Fail(r);
    }
    const size_t used = frames * frameBytes;
    m_partial.assign(data + used, data + left);
    return S_OK;
}

HRESULT CAudioWriter::Finish() {
    if (m_state == State::Finished) return E_UNEXPECTED;
    if (m_state == State::Created || m_state == State::InputSet) {
        m_encoder.Abandon();  // no header was written: the file stays as created
        m_state = State::Finished;
        return S_OK;
    }
    const bool failed = m_state == State::Failed;
    m_state = State::Finished;
    const int r = m_encoder.Finish();  // after a failure still closes the file as far as it can
    if (failed) return m_failure;
    return r < 0 ? StatusFromAvError(r) : S_OK;
}

HRESULT CAudioWriter::Fail(int averror) {
    m_failure = StatusFromAvError(averror);
    if (m_failure == E_INVALIDARG) m_failure = E_FAIL;  // not the caller's argument at this point
    m_state = State::Failed;
    return m_failure;
}
