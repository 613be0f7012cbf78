#include "host/common/StatusText.h"

#include "platform/ext/comerror.h"

namespace {

// What the statuses the conversion itself produces mean for a conversion.
struct Entry {
    HRESULT code;
    const char* name;
    const char* text;
};

constexpr Entry kConversion[] = {
    {E_FAIL, "E_FAIL",
     "the source is not a readable WAV file, the audio-writer component wmaudsdk.so is missing, "
     "or the sample data is shorter than the file declares"},
    {E_UNEXPECTED, "E_UNEXPECTED",
     "the destination name cannot be converted or is too long (1024 UTF-16 units or more)"},
    {E_INVALIDARG, "E_INVALIDARG", "the audio-writer cannot convert this audio format"},
};

}  // namespace

std::string StatusText(HRESULT hr) {
    for (const Entry& e : kConversion) {
        if (e.code == hr) return std::string(e.name) + ": " + e.text;
    }
    const char* name = nullptr;
    const char* text = nullptr;
    if (DescribeHResult(hr, &name, &text)) return std::string(name) + ": " + text;
    return hr < 0 ? "a failure reported by the audio-writer" : "success";
}
