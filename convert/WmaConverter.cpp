#include "convert/WmaConverter.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/afxpath.h"
#include "platform/codepage.h"
#include "platform/ext/paths.h"
#include "platform/fileapi.h"
#include "platform/handleapi.h"

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

// The identity (volume and file index) of the file a path names; false when it names none.
bool FileIdentity(LPCSTR path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return known != FALSE;
}

// True when the destination is the source itself, by the same name or another (a symbolic or
// hard link): the writer would empty the source before it was read.
bool IsSameFile(LPCSTR source, LPCSTR destination) {
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return FileIdentity(source, a) && FileIdentity(destination, b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
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
    const int length = std::snprintf(path, sizeof path, "%s%swmaudsdk%s", directory,
                                     PATH_SEPARATOR_STRING, MODULE_FILE_EXTENSION);
    (void)length;
    library_ = LoadLibraryA(path);
    if (library_ != nullptr) {
        // Through the generic function type, as a looked-up entry is typed by its caller.
        createWriter_ = reinterpret_cast<PFN_WMAudioCreateWriter>(
            reinterpret_cast<void (*)()>(GetProcAddress(library_, kWMAudioCreateWriterName)));
    }
}

HRESULT CWmaConverter::OpenWriter(LPCSTR source, LPCSTR destination) {
    reader_ = std::make_unique<CWavReader>();

    WCHAR wideName[kWideNameCapacity] = {};
    const int length = static_cast<int>(std::strlen(destination)) + 1;
    if (MultiByteToWideChar(CP_ACP, 0, destination, length, wideName, kWideNameCapacity) == 0) {
        Diagnostic("internal error %lu\n", static_cast<unsigned long>(GetLastError()));
        return E_UNEXPECTED;
    }

    // A source that is also the destination cannot be read: it is refused like one that
    // does not open.
    if (reader_->Open(source) < 0 || IsSameFile(source, destination)) {
        Diagnostic("Error Failed to open Wav File %s\n", source);
        return E_FAIL;
    }
    if (createWriter_ == nullptr) return E_FAIL;

    // Where the caller confines the paths it names (a script's call), the destination is made
    // here under that confinement, its owner's alone, and the writer opens that very file
    // again by the name the platform gives it: a part of the path swapped for a link after the
    // check cannot lead the writing elsewhere.
    HANDLE made = INVALID_HANDLE_VALUE;
    bool created = false;
    std::string reopen;
    WCHAR reopenName[kWideNameCapacity] = {};
    if (talrec::platform::PathConfinement::Active()) {
        made = CreateFileA(destination, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (made == INVALID_HANDLE_VALUE) {
            Diagnostic(" Failed to Create Audio Writer %x\n", static_cast<unsigned>(E_FAIL));
            return E_FAIL;
        }
        created = GetLastError() != ERROR_ALREADY_EXISTS;
        reopen = talrec::platform::OpenFileName(made);
        MultiByteToWideChar(CP_ACP, 0, reopen.c_str(), static_cast<int>(reopen.size()) + 1,
                            reopenName, kWideNameCapacity);
    }
    HRESULT hr =
        createWriter_(reopen.empty() ? wideName : reopenName, writer_.ReleaseAndGetAddressOf());
    if (made != INVALID_HANDLE_VALUE) CloseHandle(made);
    if (FAILED(hr)) {
        if (created) DeleteFileA(destination);  // no writer, no file
        Diagnostic(" Failed to Create Audio Writer %x\n", static_cast<unsigned>(hr));
        return hr;
    }
    hr = writer_->SetInputFormat(reader_->formatBlock.data());
    if (FAILED(hr)) {
        writer_.Reset();
        Diagnostic(" Failed to Set Input Format %x\n", static_cast<unsigned>(hr));
        return hr;
    }
    hr = writer_->SetOutputFormat(0, 0, 0, 0);
    if (FAILED(hr)) {
        writer_.Reset();
        Diagnostic(" Failed to Set Output Format %x\n", static_cast<unsigned>(hr));
        return hr;
    }
    return hr;
}

HRESULT CWmaConverter::CopyData() {
    std::vector<BYTE> block(kBlockSize);
    const DWORD total = reader_->dataSize;
    DWORD remaining = total;
    DWORD done = 0;
    HRESULT hr = S_OK;
    while (remaining != 0) {
        const DWORD size = remaining < kBlockSize ? remaining : kBlockSize;
        const DWORD offset = reader_->dataOffset + done;
        if (mmioSeek(reader_->file, static_cast<LONG>(offset), SEEK_SET) == -1) return E_FAIL;
        const LONG got =
            mmioRead(reader_->file, reinterpret_cast<HPSTR>(block.data()), static_cast<LONG>(size));
        if (got < static_cast<LONG>(size)) return E_FAIL;
        hr = writer_->Write(block.data(), size);
        if (FAILED(hr)) return hr;
        done += size;
        remaining -= size;
        if (t_progress != nullptr) t_progress(done, total, t_progressContext);
    }
    return hr;
}

HRESULT CWmaConverter::Finish() {
    const HRESULT hr = writer_->Finish();
    if (FAILED(hr)) return hr;
    writer_.Reset();
    reader_->Close();
    reader_.reset();
    return S_OK;
}

CWmaConverter::~CWmaConverter() {
    if (writer_) {
        writer_->Finish();  // status ignored: the file keeps what was written
        writer_.Reset();    // before the library that holds its code goes
    }
    if (reader_) {
        reader_->Close();
        reader_.reset();
    }
    if (library_ != nullptr) {
        FreeLibrary(library_);
        library_ = nullptr;
    }
}

HRESULT ConvertWavFile(LPCSTR source, LPCSTR destination) {
    CWmaConverter converter;
    HRESULT hr = converter.OpenWriter(source, destination);
    if (SUCCEEDED(hr)) hr = converter.CopyData();
    if (SUCCEEDED(hr)) hr = converter.Finish();
    return hr;
}
