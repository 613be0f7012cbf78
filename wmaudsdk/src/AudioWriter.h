// The writer object: reference counting, the order of calls, and carrying partial frames
// between writes; the encoding itself is the Encoder's.
#pragma once

#include <vector>

#include "Encoder.h"
#include "platform/ext/comobject.h"
#include "wmaudsdk/wmaudsdk.h"

// The last Release deletes it; an unfinished file still gets its trailer (Encoder).
class CAudioWriter final : public ComObject<IWMAudioWriter> {
  public:
    CAudioWriter() = default;
    HRESULT Create(const std::string& path);

    HRESULT STDMETHODCALLTYPE GetOutputProps(void** props) override;
    HRESULT STDMETHODCALLTYPE SetInputFormat(const void* format) override;
    HRESULT STDMETHODCALLTYPE SetOutputFormat(DWORD channels, DWORD samplesPerSec, DWORD bitsPerSec,
                                              DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE SetAttribute(const void* attribute) override;
    HRESULT STDMETHODCALLTYPE Write(const BYTE* data, DWORD count) override;
    HRESULT STDMETHODCALLTYPE Finish() override;

  private:
    ~CAudioWriter() override = default;
    IUnknown* Interface(REFIID riid) override {
        return riid == IID_IWMAudioWriter ? static_cast<IWMAudioWriter*>(this) : nullptr;
    }
    HRESULT Fail(int averror);

    enum class State { Created, InputSet, Writing, Finished, Failed };

    State state_ = State::Created;
    HRESULT failure_ = S_OK;
    InputFormat in_;
    Encoder encoder_;
    std::vector<BYTE> partial_;  // bytes of a frame not yet complete, fewer than a frame
};

// Maps an FFmpeg error code to a status.
HRESULT StatusFromAvError(int averror);
