// A stand-in audio-writer component for the conversion's tests: "wmaudsdk.so" with the same
// export and table, which records every call as a line in the file TALREC_RECORDER_LOG, copies
// the bytes it is given to TALREC_RECORDER_DATA (when set), and fails on request:
// TALREC_RECORDER_FAIL="STEP=HEX" with STEP one of create, input, output, write (every write),
// write2 (the second write on), finish. Loading and unloading are recorded too.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ext/comobject.h"
#include "wmaudsdk/wmaudsdk.h"

namespace {

void Log(const std::string& line) {
    const char* path = std::getenv("TALREC_RECORDER_LOG");
    if (path == nullptr) return;
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

// The status a step is told to fail with, or S_OK.
HRESULT FailureFor(const char* step) {
    const char* request = std::getenv("TALREC_RECORDER_FAIL");
    if (request == nullptr) return S_OK;
    const std::string s(request);
    const auto eq = s.find('=');
    if (eq == std::string::npos || s.substr(0, eq) != step) return S_OK;
    return static_cast<HRESULT>(std::strtoul(s.c_str() + eq + 1, nullptr, 16));
}

// Counted by ComObject; the IUnknown calls are logged too, and it answers no interface but
// IUnknown, so that a query the conversion should not make shows in the log.
class RecordingWriter final : public ComObject<IWMAudioWriter> {
  public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        Log("QueryInterface");
        return ComObject::QueryInterface(riid, object);
    }
    ULONG AddRef() override {
        Log("AddRef");
        return ComObject::AddRef();
    }
    ULONG Release() override {
        const ULONG left = ComObject::Release();
        Log("release " + std::to_string(left));
        return left;
    }
    HRESULT GetOutputProps(void**) override {
        Log("entry3");
        return E_NOTIMPL;
    }
    HRESULT SetInputFormat(const void* format) override {
        const auto* p = static_cast<const BYTE*>(format);
        std::string line = "input";
        const WORD cbSize = static_cast<WORD>(p[16] | (p[17] << 8));
        // The record and its extra bytes, in hex.
        for (size_t i = 0; i < 18u + cbSize; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", p[i]);
            line += hex;
        }
        Log(line);
        return FailureFor("input");
    }
    HRESULT SetOutputFormat(DWORD a, DWORD b, DWORD c, DWORD d) override {
        Log("output " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) +
            " " + std::to_string(d));
        return FailureFor("output");
    }
    HRESULT SetAttribute(const void*) override {
        Log("entry6");
        return E_NOTIMPL;
    }
    HRESULT Write(const BYTE* data, DWORD count) override {
        Log("write " + std::to_string(count));
        ++writes_;
        if (const char* path = std::getenv("TALREC_RECORDER_DATA")) {
            if (std::FILE* f = std::fopen(path, "ab")) {
                std::fwrite(data, 1, count, f);
                std::fclose(f);
            }
        }
        if (HRESULT hr = FailureFor("write"); hr != S_OK) return hr;
        if (writes_ >= 2) return FailureFor("write2");
        return S_OK;
    }
    HRESULT Finish() override {
        Log("finish");
        return FailureFor("finish");
    }

  private:
    ~RecordingWriter() override = default;
    IUnknown* Interface(REFIID) override { return nullptr; }

    int writes_ = 0;
};

__attribute__((constructor)) void OnLoad() {
    Log("load");
}
__attribute__((destructor)) void OnUnload() {
    Log("unload");
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT WMAudioCreateWriter(
    const char16_t* fileName, IWMAudioWriter** writer) {
    size_t units = 0;
    std::string ascii;
    for (; fileName[units] != 0; ++units) ascii += static_cast<char>(fileName[units] & 0x7F);
    Log("create " + std::to_string(units) + " " + ascii);
    if (HRESULT hr = FailureFor("create"); hr != S_OK) return hr;
    *writer = new RecordingWriter();
    return S_OK;
}
