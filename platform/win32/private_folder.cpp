// The private folder on Windows: a folder whose access list grants the user running the program
// alone (set, protected from inheritance, each time it is opened), never a link or junction; its
// files are read and written without following one, and its lock is a lock file's.
#include <filesystem>

#include "platform/ext/privatefolder.h"
#include "platform/win32/sdk.h"
// (after windows.h, which it needs)
#include <sddl.h>

namespace talrec::platform {
namespace {

std::string LastError(const char* what, const std::string& path) {
    return std::string(what) + " " + path + " fails (error " + std::to_string(GetLastError()) + ")";
}

// The current user's SID as text, or empty.
std::string UserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    std::string text;
    char* sid = nullptr;
    if (size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

// Grants the user alone full access to `path` and what is made in it.
bool MakePrivate(const std::string& path) {
    const std::string sid = UserSid();
    if (sid.empty()) return false;
    const std::string sddl = "D:P(A;OICI;FA;;;" + sid + ")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return false;
    }
    const BOOL set = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return set != FALSE;
}

std::string Child(const std::string& folder, const std::string& name) {
    return folder + "\\" + name;
}

// A handle on a regular file of the folder, not through a link; INVALID_HANDLE_VALUE otherwise.
HANDLE OpenPlain(const std::string& path, DWORD access, DWORD disposition) {
    HANDLE file =
        CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, disposition,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

}  // namespace

std::unique_ptr<PrivateFolder> PrivateFolder::Open(const std::string& path, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = LastError("opening the folder", path);
        return nullptr;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        error = path + " is a link or not a folder; remove it";
        return nullptr;
    }
    if (!MakePrivate(path)) {
        error = LastError("making the access list of", path);
        return nullptr;
    }
    return std::unique_ptr<PrivateFolder>(new PrivateFolder(-1, path));
}

PrivateFolder::~PrivateFolder() = default;

bool PrivateFolder::Write(const std::string& name, const std::string& text, std::string& error) {
    const std::string target = Child(path_, name);
    const std::string temporary = target + "." + std::to_string(GetCurrentProcessId()) + ".new";
    DeleteFileA(temporary.c_str());
    HANDLE file = OpenPlain(temporary, GENERIC_WRITE, CREATE_NEW);
    if (file == INVALID_HANDLE_VALUE) {
        error = LastError("creating", temporary);
        return false;
    }
    DWORD written = 0;
    const bool whole =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (!whole || !MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = LastError("writing", target);
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

std::optional<std::string> PrivateFolder::Read(const std::string& name) const {
    HANDLE file = OpenPlain(Child(path_, name), GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

bool PrivateFolder::Remove(const std::string& name) {
    return DeleteFileA(Child(path_, name).c_str()) != FALSE;
}

PrivateFolder::Lock::Lock(const PrivateFolder& folder)
    : file_(CreateFileA(Child(folder.Path(), ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)) {
    OVERLAPPED at{};
    if (file_ != INVALID_HANDLE_VALUE) LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at);
}

PrivateFolder::Lock::~Lock() {
    if (file_ == INVALID_HANDLE_VALUE) return;
    OVERLAPPED at{};
    UnlockFileEx(file_, 0, 1, 0, &at);
    CloseHandle(file_);
}

bool ProcessRuns(unsigned long pid) {
    if (pid == 0) return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return runs;
}

}  // namespace talrec::platform
