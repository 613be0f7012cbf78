#include "convert/WmaConverter.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/codepage.h"

namespace {

constexpr UINT kDirectoryCapacity = 512;
constexpr int kWideNameCapacity = 1024;
constexpr DWORD kBlockSize = 16384;

static_assert(sizeof(WCHAR) == sizeof(char16_t), "the component takes UTF-16 names");

thread_local ConvertProgressFn t_progress = nullptr;
thread_local void* t_progressContext = nullptr;

// Diagnostic lines go to standard output as they happen.
template <typename... Args>
void Diagnostic(const char* format, Args... args) {
    std::printf(format, args...);
    std::fflush(stdout);
}

}  // namespace

void SetConvertProgressHook(ConvertProgressFn fn, void* context) {
    t_progress = fn;
    t_progressContext = context;
}

void CWmaConverter::LoadWriterLibrary() {
    char directory[kDirectoryCapacity] = {};
    char path[kDirectoryCapacity] = {};
    GetSystemDirectoryA(directory, kDirectoryCapacity);
    // Bounded: a longer path is cut at 511 characters, and the cut is not reported.
    const int length = std::snprintf(path, sizeof path, "%s/wmaudsdk.so", directory);
    (void)length;
    m_hLibrary = LoadLibraryA(path);
    if (m_hLibrary != nullptr) {
        // Through the generic function type, as a looked-up entry is typed by its caller.
        m_pfnCreateWriter = reinterpret_cast<PFN_WMAudioCreateWriter>(
            reinterpret_cast<void (*)()>(GetProcAddress(m_hLibrary, kWMAudioCreateWriterName)));
    }
}

HRESULT CWmaConverter::OpenWriter(LPCSTR source, LPCSTR destination) {
    m_pReader = std::make_unique<CWavReader>();

    WCHAR wideName[kWideNameCapacity] = {};
    const int length = static_cast<int>(std::strlen(destination)) + 1;
    if (MultiByteToWideChar(CP_ACP, 0, destination, length, wideName, kWideNameCapacity) == 0) {
        Diagnostic("internal error %lu\n", static_cast<unsigned long>(GetLastError()));
        return E_UNEXPECTED;
    }

    if (m_pReader->Open(source) < 0) {
        Diagnostic("Error Failed to open Wav File %s\n", source);
        return E_FAIL;
    }
    if (m_pfnCreateWriter == nullptr) return E_FAIL;

    HRESULT hr = m_pfnCreateWriter(reinterpret_cast<const char16_t*>(wideName), &m_pWriter);
    if (FAILED(hr)) {
        Diagnostic(" Failed to Create Audio Writer %x\n", static_cast<unsigned>(hr));
        return hr;
    }
    hr = m_pWriter->SetInputFormat(m_pReader->m_format.data());
    if (FAILED(hr)) {
        m_pWriter->Release();
        m_pWriter = nullptr;
        Diagnostic(" Failed to Set Input Format %x\n", static_cast<unsigned>(hr));
        return hr;
    }
    hr = m_pWriter->SetOutputFormat(0, 0, 0, 0);
    if (FAILED(hr)) {
        m_pWriter->Release();
        m_pWriter = nullptr;
        Diagnostic(" Failed to Set Output Format %x\n", static_cast<unsigned>(hr));
        return hr;
    }
    return hr;
}

HRESULT CWmaConverter::CopyData() {
    std::vector<BYTE> block(kBlockSize);
    const DWORD total = m_pReader->m_dataSize;
    DWORD remaining = total;
    DWORD done = 0;
    HRESULT hr = S_OK;
    while (remaining != 0) {
        const DWORD size = remaining < kBlockSize ? remaining : kBlockSize;
        const DWORD offset = m_pReader->m_dataOffset + done;
        if (mmioSeek(m_pReader->m_hmmio, static_cast<LONG>(offset), SEEK_SET) == -1) return E_FAIL;
        const LONG got = mmioRead(m_pReader->m_hmmio, reinterpret_cast<HPSTR>(block.data()),
                                  static_cast<LONG>(size));
        if (got < static_cast<LONG>(size)) return E_FAIL;
        hr = m_pWriter->Write(block.data(), size);
        if (FAILED(hr)) return hr;
        done += size;
        remaining -= size;
        if (t_progress != nullptr) t_progress(done, total, t_progressContext);
    }
    return hr;
}

HRESULT CWmaConverter::Finish() {
    const HRESULT hr = m_pWriter->Finish();
    if (FAILED(hr)) return hr;
    m_pWriter->Release();
    m_pWriter = nullptr;
    m_pReader->Close();
    m_pReader.reset();
    return S_OK;
}

CWmaConverter::~CWmaConverter() {
    if (m_pWriter != nullptr) {
        m_pWriter->Finish();  // status ignored: the file keeps what was written
        m_pWriter->Release();
        m_pWriter = nullptr;
    }
    if (m_pReader) {
        m_pReader->Close();
        m_pReader.reset();
    }
    if (m_hLibrary != nullptr) {
        FreeLibrary(m_hLibrary);
        m_hLibrary = nullptr;
    }
}

HRESULT ConvertWavFile(LPCSTR source, LPCSTR destination) {
    CWmaConverter converter;
    HRESULT hr = converter.OpenWriter(source, destination);
    if (SUCCEEDED(hr)) hr = converter.CopyData();
    if (SUCCEEDED(hr)) hr = converter.Finish();
    return hr;
}
