// A wmaudsdk.dll for the tests under Wine: the Windows build ships no audio writer, so
// test-windows.sh puts this one into the prefix's system folder for the scenario that
// converts. It writes the bytes it is given, unchanged, into the destination file and records
// every call it receives in DESTINATION.calls, one line of "call;call;...", so that a
// scenario can read back the order of the calls and their arguments:
//   create;SetInputFormat(TAG,CHANNELS,RATE,BITS);SetOutputFormat(A,B,C,D);Write(N);...;
//   Finish(TOTAL);Release
// The table and the create function are __stdcall (STDMETHODCALLTYPE, WINAPI), as a real
// writer's are.
#include <string>
#include <type_traits>

#include "platform/ext/comobject.h"
#include "wmaudsdk/wmaudsdk.h"

namespace {

class TestWriter final : public ComObject<IWMAudioWriter> {
  public:
    TestWriter(HANDLE file, std::wstring log) : file_(file), log_(std::move(log)) {
        Record("create");
    }

    HRESULT STDMETHODCALLTYPE GetOutputProps(void**) override {
        Record("GetOutputProps");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetInputFormat(const void* format) override {
        if (format == nullptr) return E_POINTER;
        const auto* f = static_cast<const WAVEFORMATEX*>(format);
        Record("SetInputFormat(" + std::to_string(f->wFormatTag) + "," +
               std::to_string(f->nChannels) + "," + std::to_string(f->nSamplesPerSec) + "," +
               std::to_string(f->wBitsPerSample) + ")");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetOutputFormat(DWORD channels, DWORD samplesPerSec, DWORD bitsPerSec,
                                              DWORD reserved) override {
        Record("SetOutputFormat(" + std::to_string(channels) + "," + std::to_string(samplesPerSec) +
               "," + std::to_string(bitsPerSec) + "," + std::to_string(reserved) + ")");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetAttribute(const void*) override {
        Record("SetAttribute");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Write(const BYTE* data, DWORD count) override {
        Record("Write(" + std::to_string(count) + ")");
        if (file_ == INVALID_HANDLE_VALUE) return E_UNEXPECTED;
        DWORD written = 0;
        if (!WriteFile(file_, data, count, &written, nullptr) || written != count) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        total_ += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Finish() override {
        Record("Finish(" + std::to_string(total_) + ")");
        if (file_ == INVALID_HANDLE_VALUE) return E_UNEXPECTED;
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        return S_OK;
    }

  private:
    ~TestWriter() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        Record("Release");
    }
    IUnknown* Interface(REFIID riid) override {
        return riid == IID_IWMAudioWriter ? static_cast<IWMAudioWriter*>(this) : nullptr;
    }

    // Appends one call to the log, ";" before every call but the first.
    void Record(const std::string& call) {
        HANDLE log = CreateFileW(log_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (log == INVALID_HANDLE_VALUE) return;
        LARGE_INTEGER size{};
        GetFileSizeEx(log, &size);
        const std::string text = (size.QuadPart > 0 ? ";" : "") + call;
        DWORD written = 0;
        WriteFile(log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(log);
    }

    HANDLE file_;
    std::wstring log_;
    DWORD total_ = 0;
};

}  // namespace

extern "C" HRESULT WINAPI WMAudioCreateWriter(LPCWSTR fileName, IWMAudioWriter** writer) {
    if (writer == nullptr) return E_POINTER;
    *writer = nullptr;
    if (fileName == nullptr || fileName[0] == 0) return E_INVALIDARG;
    HANDLE file = CreateFileW(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    std::wstring log = std::wstring(fileName) + L".calls";
    DeleteFileW(log.c_str());
    *writer = new TestWriter(file, std::move(log));
    return S_OK;
}

static_assert(std::is_same_v<decltype(&WMAudioCreateWriter), PFN_WMAudioCreateWriter>);
