#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/ext/privatefolder.h"

namespace talrec::platform {
namespace {

std::string UserName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    std::string name = getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found
                           ? std::string(found->pw_name) + " "
                           : std::string();
    return name + "(uid " + std::to_string(uid) + ")";
}

std::string Mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Why the entry at `path`, as lstat or fstat saw it, is no private folder of ours; empty
// when it is one.
std::string Refusal(const std::string& path, const struct stat& st) {
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const auto target = std::filesystem::read_symlink(path, ec);
        return path + " is a symbolic link" + (ec ? "" : " to " + target.string()) + " (owner " +
               UserName(st.st_uid) + "), not a folder";
    }
    if (!S_ISDIR(st.st_mode)) return path + " is not a folder";
    if (st.st_uid != geteuid()) {
        return path + " belongs to another user, " + UserName(st.st_uid) + ", mode " +
               Mode(st.st_mode);
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return path + " can be written by other users (owner " + UserName(st.st_uid) + ", mode " +
               Mode(st.st_mode) + ")";
    }
    return {};
}

}  // namespace

std::unique_ptr<PrivateFolder> PrivateFolder::Open(const std::string& path, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat named {};
    if (lstat(path.c_str(), &named) != 0) {
        error = "cannot use " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (std::string why = Refusal(path, named); !why.empty()) {
        error = why;
        return nullptr;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat opened {};
    if (fd < 0 || fstat(fd, &opened) != 0) {
        error = "cannot use " + path + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return nullptr;
    }
    // What was opened is what was looked at, not something put in its place meanwhile.
    std::string why = Refusal(path, opened);
    if (why.empty() && (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)) {
        why = path + " was replaced while it was being opened";
    }
    if (why.empty() && (opened.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) {
        why = "cannot close " + path + " to other users: " + std::strerror(errno);
    }
    if (!why.empty()) {
        error = why;
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<PrivateFolder>(new PrivateFolder(fd, path));
}

PrivateFolder::~PrivateFolder() {
    close(fd_);
}

bool PrivateFolder::Write(const std::string& name, const std::string& text, std::string& error) {
    const std::string temporary = "." + name + "." + std::to_string(getpid()) + ".new";
    unlinkat(fd_, temporary.c_str(), 0);  // left by an earlier process with this id
    const int fd =
        openat(fd_, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot create " + path_ + "/" + temporary + ": " + std::strerror(errno);
        return false;
    }
    const char* data = text.data();
    std::size_t left = text.size();
    int failure = 0;
    while (left > 0 && failure == 0) {
        const ssize_t n = write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failure = n < 0 ? errno : ENOSPC;
            break;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && renameat(fd_, temporary.c_str(), fd_, name.c_str()) != 0) failure = errno;
    if (failure != 0) {
        unlinkat(fd_, temporary.c_str(), 0);
        error = "cannot write " + path_ + "/" + name + ": " + std::strerror(failure);
        return false;
    }
    return true;
}

std::optional<std::string> PrivateFolder::Read(const std::string& name) const {
    const int fd = openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::string> text;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        text.emplace();
        char chunk[4096];
        ssize_t n;
        while ((n = read(fd, chunk, sizeof chunk)) > 0 && text->size() < (1u << 20)) {
            text->append(chunk, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    return text;
}

bool PrivateFolder::Remove(const std::string& name) {
    return unlinkat(fd_, name.c_str(), 0) == 0;
}

PrivateFolder::Lock::Lock(const PrivateFolder& folder) : fd_(folder.fd_) {
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
}

PrivateFolder::Lock::~Lock() {
    flock(fd_, LOCK_UN);
}

bool ProcessRuns(unsigned long pid) {
    if (pid == 0 || pid > static_cast<unsigned long>(INT32_MAX)) return false;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace talrec::platform
