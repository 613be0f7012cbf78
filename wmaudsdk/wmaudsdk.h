// The audio-writer component "wmaudsdk.so" ("wmaudsdk.dll" on Windows): a writer object that
// encodes PCM into a WMA file (Windows Media Audio 2 in an ASF container).
//
// Use: WMAudioCreateWriter(name, &writer); writer->SetInputFormat(format);
// writer->SetOutputFormat(0, 0, 0, 0); writer->Write(bytes, count) any number of times;
// writer->Finish(); writer->Release(). Calls out of this order answer E_UNEXPECTED.
// A writer is used from one thread at a time.
#pragma once

#include "platform/codepage.h"
#include "platform/unknwn.h"
#include "platform/windef.h"

// {6D7A1B4E-3C2F-4A8E-9B1D-5E0F7C3A2B91}
inline constexpr IID IID_IWMAudioWriter = {
    0x6D7A1B4E, 0x3C2F, 0x4A8E, {0x9B, 0x1D, 0x5E, 0x0F, 0x7C, 0x3A, 0x2B, 0x91}};

// The writer's table, in the order a COM caller indexes it: entries 0-2 IUnknown, then 3-8.
struct IWMAudioWriter : IUnknown {
    // Entry 3: not implemented; answers E_NOTIMPL.
    virtual HRESULT STDMETHODCALLTYPE GetOutputProps(void** props) = 0;
    // Entry 4: the input format, a WAVEFORMATEX record followed by its cbSize extra bytes, as
    // the body of a WAV file's "fmt " chunk stands. Taken: integer PCM of 8 (unsigned), 16, 24
    // or 32 bits, IEEE float of 32 or 64 bits, and WAVE_FORMAT_EXTENSIBLE of those; 1 to 64
    // channels; 1 Hz to 768 kHz. Anything else is refused with E_INVALIDARG.
    virtual HRESULT STDMETHODCALLTYPE SetInputFormat(const void* format) = 0;
    // Entry 5: the output format. Each value 0 means the default:
    //   channels: the input's, at most 2 (more are mixed down to stereo);
    //   samplesPerSec: the input's when at most 48000 Hz, otherwise 48000 (44100 for the
    //                  44.1 kHz family);
    //   bitsPerSec: 128000 for stereo, 64000 for mono; at least 24000;
    //   reserved: must be 0.
    // Opens the encoder and writes the file header. E_INVALIDARG for values the encoder
    // cannot take.
    virtual HRESULT STDMETHODCALLTYPE SetOutputFormat(DWORD channels, DWORD samplesPerSec,
                                                      DWORD bitsPerSec, DWORD reserved) = 0;
    // Entry 6: not implemented; answers E_NOTIMPL.
    virtual HRESULT STDMETHODCALLTYPE SetAttribute(const void* attribute) = 0;
    // Entry 7: sample bytes in the input format, in order. Counts need not be whole frames: a
    // partial frame is carried over to the next write.
    virtual HRESULT STDMETHODCALLTYPE Write(const BYTE* data, DWORD count) = 0;
    // Entry 8: encodes what is left, writes the file's trailer and closes it. A partial frame
    // left over at the end is dropped.
    virtual HRESULT STDMETHODCALLTYPE Finish() = 0;

  protected:
    ~IWMAudioWriter() = default;
};

// The export "WMAudioCreateWriter": creates the file and a writer for it holding one reference
// for the caller. The UTF-16 name is stored in the character set of the process's locale (UTF-8
// in the "C" locale), so that it names the file the caller's own strings name. Statuses: S_OK;
// E_POINTER; E_INVALIDARG for an empty name; a Win32 error as HRESULT (0x8007xxxx) when the
// file cannot be created or the name has no form in that character set; E_OUTOFMEMORY.
using PFN_WMAudioCreateWriter = HRESULT(WINAPI*)(LPCWSTR fileName, IWMAudioWriter** writer);
inline constexpr const char* kWMAudioCreateWriterName = "WMAudioCreateWriter";
