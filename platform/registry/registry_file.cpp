#include "platform/registry/registry_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/debugapi.h"
#include "platform/kernel/lasterror.h"

namespace talrec::registry {

namespace {

// Larger than any registry this system writes; a bigger file is not read into memory.
constexpr off_t kMaxFileSize = 64 * 1024 * 1024;

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home == '/') return home;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return "/tmp";
}

std::string Folder(const std::string& path) {
    std::size_t cut = path.rfind('/');
    if (cut == std::string::npos) return ".";
    return cut == 0 ? "/" : path.substr(0, cut);
}

// A file or folder whose mode has no write bit is read-only to everyone, root included, so
// that marking the registry read-only works the same for every user.
bool WriteProtected(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
}

// Makes the folder and its parents (mode 0700 for new ones, the config folder's custom).
DWORD MakeFolders(const std::string& folder) {
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
    if (errno != ENOENT) return Win32ErrorFromErrno(errno);
    std::string parent = Folder(folder);
    if (parent != folder) {
        if (DWORD rc = MakeFolders(parent); rc != ERROR_SUCCESS) return rc;
    }
    if (WriteProtected(parent)) return ERROR_ACCESS_DENIED;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return Win32ErrorFromErrno(errno);
    return ERROR_SUCCESS;
}

DWORD ReadWhole(const std::string& path, std::string& text, bool& exists) {
    text.clear();
    exists = false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ERROR_SUCCESS : Win32ErrorFromErrno(errno);
    exists = true;
    struct stat st {};
    DWORD rc = ERROR_SUCCESS;
    if (fstat(fd, &st) != 0) {
        rc = Win32ErrorFromErrno(errno);
    } else if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
        rc = ERROR_BADDB;
    } else {
        char buf[65536];
        while (true) {
            ssize_t n = read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                rc = ERROR_CANTREAD;
                break;
            }
            if (n == 0) break;
            text.append(buf, static_cast<std::size_t>(n));
            if (text.size() > static_cast<std::size_t>(kMaxFileSize)) {
                rc = ERROR_BADDB;
                break;
            }
        }
    }
    close(fd);
    return rc;
}

bool WriteAll(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Writes text to a new file beside path and renames it over path.
DWORD Replace(const std::string& path, const std::string& text) {
    static std::atomic<unsigned> counter{0};
    std::string temp =
        path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter.fetch_add(1));
    mode_t mode = 0600;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) mode = st.st_mode & 0777;
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return Win32ErrorFromErrno(errno);
    bool ok = WriteAll(fd, text) && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        DWORD rc = Win32ErrorFromErrno(err);
        return rc == ERROR_INVALID_FUNCTION ? ERROR_CANTWRITE : rc;
    }
    return ERROR_SUCCESS;
}

// The exclusive lock on "<registry>.lock", held for one transaction.
class FileLock {
  public:
    explicit FileLock(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error_ = Win32ErrorFromErrno(errno);
            return;
        }
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = Win32ErrorFromErrno(errno);
                return;
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) close(fd_);  // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    DWORD error() const { return error_; }

  private:
    int fd_ = -1;
    DWORD error_ = ERROR_SUCCESS;
};

// The file that holds the registry: the configured path, or the file it leads to when it (or
// a folder on the way) is a symbolic link, so that a change replaces the file and keeps the
// link, and every writer locks the same lock file.
std::string ResolvedPath() {
    std::string path = FilePath();
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) return resolved;
    // A link to a file not made yet: follow the links by hand.
    for (int hops = 0; hops < 16; ++hops) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        ssize_t n = readlink(path.c_str(), resolved, sizeof resolved - 1);
        if (n <= 0) break;
        std::string target(resolved, static_cast<std::size_t>(n));
        path = target.front() == '/' ? target : Folder(path) + "/" + target;
    }
    return path;
}

}  // namespace

std::string FilePath() {
    if (const char* path = std::getenv("TALREC_REGISTRY"); path != nullptr && *path != '\0')
        return path;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
        return std::string(config) + "/talrec/registry";
    return HomeFolder() + "/.config/talrec/registry";
}

DWORD Load(Key& root) {
    std::string text;
    bool exists;
    DWORD rc = ReadWhole(ResolvedPath(), text, exists);
    if (rc != ERROR_SUCCESS) return rc;
    if (!exists) {
        root.values.clear();
        root.subkeys.clear();
        return ERROR_SUCCESS;
    }
    return Parse(text, root) ? ERROR_SUCCESS : ERROR_BADDB;
}

DWORD Modify(const Change& change) {
    const std::string path = ResolvedPath();
    const std::string folder = Folder(path);
    DWORD writable = MakeFolders(folder);
    if (writable == ERROR_SUCCESS && (WriteProtected(folder) || WriteProtected(path)))
        writable = ERROR_ACCESS_DENIED;
    if (writable != ERROR_SUCCESS) {
        // The file cannot be written; a change that would change nothing (or that fails on
        // its own) still gets its own answer.
        Key root;
        if (Load(root) != ERROR_SUCCESS) return writable;
        bool changed = false;
        if (DWORD rc = change(root, changed); rc != ERROR_SUCCESS) return rc;
        return changed ? writable : ERROR_SUCCESS;
    }

    FileLock lock(path + ".lock");
    if (lock.error() != ERROR_SUCCESS) return lock.error();

    std::string text;
    bool exists;
    if (DWORD rc = ReadWhole(path, text, exists); rc != ERROR_SUCCESS && rc != ERROR_BADDB)
        return rc;
    Key root;
    bool restarted = false;
    if (exists && !Parse(text, root)) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_BADDB;  // a folder?
        // Keep the damaged file for whoever wants to look at it, and go on with an empty
        // registry, so that this change is the first of the new one.
        std::string aside = path + ".damaged";
        if (rename(path.c_str(), aside.c_str()) != 0) return Win32ErrorFromErrno(errno);
        const std::string note = "registry: " + path + " was damaged; it is kept as " + aside +
                                 " and the registry starts anew";
        OutputDebugStringA(note.c_str());
        root = Key();
        restarted = true;
    }
    bool changed = false;
    DWORD rc = change(root, changed);
    if (rc != ERROR_SUCCESS) {
        // A change that fails on its own still leaves a whole registry in the damaged one's place.
        if (restarted) Replace(path, Serialize(Key()));
        return rc;
    }
    if (!changed && !restarted) return ERROR_SUCCESS;
    return Replace(path, Serialize(root));
}

}  // namespace talrec::registry
