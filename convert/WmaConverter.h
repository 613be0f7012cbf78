// The WAV-to-WMA conversion: one WAV file streamed, unchanged and in file order, into a writer
// of the audio-writer component, which the conversion loads by full path from the system
// directory for each conversion and unloads at its end. Runs wholly on the calling thread.
#pragma once

#include <memory>

#include "convert/WavReader.h"
#include "platform/libloaderapi.h"
#include "platform/windef.h"
#include "platform/wrl/client.h"
#include "wmaudsdk/wmaudsdk.h"

// Converts source (a WAV file) into destination (a WMA file); both paths in the system code
// page. Returns S_OK, or the first failure: E_UNEXPECTED (destination name not convertible or
// too long), E_FAIL (source not a usable WAV file, component missing, short read), or the
// component's own status. Writes one diagnostic line to standard output for some failures.
// The destination is never deleted: whatever the component wrote stays.
HRESULT ConvertWavFile(LPCSTR source, LPCSTR destination);

// One conversion; its destructor releases whatever is still held, writer first, library last.
class CWmaConverter {
  public:
    CWmaConverter() { LoadWriterLibrary(); }
    ~CWmaConverter();
    CWmaConverter(const CWmaConverter&) = delete;
    CWmaConverter& operator=(const CWmaConverter&) = delete;

    // Loads the component and looks up its entry; the outcome shows only in the first two fields.
    void LoadWriterLibrary();
    // Opens the source and creates the writer for the destination with its input format and
    // its default output format.
    HRESULT OpenWriter(LPCSTR source, LPCSTR destination);
    // Streams the data chunk in blocks of 16384 bytes, each read at its own absolute offset.
    HRESULT CopyData();
    // Finishes and releases the writer, then closes the reader.
    HRESULT Finish();

    PFN_WMAudioCreateWriter createWriter_ = nullptr;  // null: no library or no export
    HMODULE library_ = nullptr;
    // Released before the library is unloaded (the destructor does so explicitly).
    Microsoft::WRL::ComPtr<IWMAudioWriter> writer_;
    std::unique_ptr<CWavReader> reader_;
};

// Progress of conversions on the calling thread: after each block is written, fn(bytes done,
// bytes in total, context) runs on that thread. Null turns it off. For interactive hosts; it
// changes nothing in the conversion.
using ConvertProgressFn = void (*)(DWORD done, DWORD total, void* context);
void SetConvertProgressHook(ConvertProgressFn fn, void* context);
