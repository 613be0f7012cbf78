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
    const int r = encoder_.CreateOutput(path);
    return r < 0 ? StatusFromAvError(r) : S_OK;
}

HRESULT CAudioWriter::GetOutputProps(void** props) {
    if (props != nullptr) *props = nullptr;
    return E_NOTIMPL;
}

HRESULT CAudioWriter::SetAttribute(const void*) {
    return E_NOTIMPL;
}

HRESULT CAudioWriter::SetInputFormat(const void* format) {
    if (state_ != State::Created && state_ != State::InputSet) return E_UNEXPECTED;
    InputFormat in;
    if (!ParseInputFormat(format, in) || !Encoder::CanConvert(in)) return E_INVALIDARG;
    in_ = in;
    state_ = State::InputSet;
    return S_OK;
}

HRESULT CAudioWriter::SetOutputFormat(DWORD channels, DWORD samplesPerSec, DWORD bitsPerSec,
                                      DWORD reserved) {
    if (state_ != State::InputSet) return E_UNEXPECTED;
    OutputFormat out = DefaultOutputFor(in_);
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
    const int r = encoder_.Start(in_, out);
    if (r < 0) return Fail(r);
    partial_.reserve(static_cast<size_t>(in_.blockAlign));
    state_ = State::Writing;
    return S_OK;
}

HRESULT CAudioWriter::Write(const BYTE* data, DWORD count) {
    if (state_ == State::Failed) return failure_;
    if (state_ != State::Writing) return E_UNEXPECTED;
    if (count == 0) return S_OK;
    if (data == nullptr) return E_POINTER;
    const size_t frameBytes = static_cast<size_t>(in_.blockAlign);
    size_t left = count;
    // Complete the frame carried over from the last write.
    if (!partial_.empty()) {
        const size_t take = std::min(left, frameBytes - partial_.size());
        partial_.insert(partial_.end(), data, data + take);
        data += take;
        left -= take;
        if (partial_.size() < frameBytes) return S_OK;
        const int r = encoder_.Push(partial_.data(), 1);
        partial_.clear();
        if (r < 0) return Fail(r);
    }
    const size_t frames = left / frameBytes;
    if (frames > 0) {
        const int r = encoder_.Push(data, frames);
        if (r < 0) return Fail(r);
    }
    const size_t used = frames * frameBytes;
    partial_.assign(data + used, data + left);
    return S_OK;
}

HRESULT CAudioWriter::Finish() {
    if (state_ == State::Finished) return E_UNEXPECTED;
    if (state_ == State::Created || state_ == State::InputSet) {
        encoder_.Abandon();  // no header was written: the file stays as created
        state_ = State::Finished;
        return S_OK;
    }
    const bool failed = state_ == State::Failed;
    state_ = State::Finished;
    const int r = encoder_.Finish();  // after a failure still closes the file as far as it can
    if (failed) return failure_;
    return r < 0 ? StatusFromAvError(r) : S_OK;
}

HRESULT CAudioWriter::Fail(int averror) {
    failure_ = StatusFromAvError(averror);
    if (failure_ == E_INVALIDARG) failure_ = E_FAIL;  // not the caller's argument at this point
    state_ = State::Failed;
    return failure_;
}
