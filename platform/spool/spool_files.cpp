// Recording spools: the spool folder, the header of a spool file, and recovery.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/kernel/file_internal.h"
#include "platform/spool/spool_internal.h"

namespace talrec::platform::spool {
namespace {

void Put16(std::vector<BYTE>& out, WORD v) {
    out.push_back(static_cast<BYTE>(v));
    out.push_back(static_cast<BYTE>(v >> 8));
}
void Put32(std::vector<BYTE>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
}
void Put64(std::vector<BYTE>& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
}
std::uint32_t Get(const BYTE* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    return v;
}

bool ReadAt(int fd, std::uint64_t offset, void* out, std::size_t bytes) {
    auto* p = static_cast<BYTE*>(out);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = pread(fd, p + done, bytes - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Creates one folder 0700 unless it is there; false with errno set otherwise.
bool MakeOne(const std::string& path) {
    if (mkdir(path.c_str(), 0700) == 0) return true;
    if (errno != EEXIST) return false;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

}  // namespace

std::size_t HeaderBytes(std::size_t destinationBytes) {
    const std::size_t least = kFixedHeaderBytes + destinationBytes;
    std::size_t bytes = kDataPageOffset;
    while (bytes < least) bytes += kPageBytes;
    return bytes;
}

std::vector<BYTE> EncodeHeader(const Header& h) {
    std::vector<BYTE> out(kMagic, kMagic + sizeof kMagic);
    Put32(out, static_cast<std::uint32_t>(HeaderBytes(h.destination.size())));
    Put32(out, h.state);
    Put16(out, h.format.wFormatTag);
    Put16(out, h.format.nChannels);
    Put32(out, h.format.nSamplesPerSec);
    Put32(out, h.format.nAvgBytesPerSec);
    Put16(out, h.format.nBlockAlign);
    Put16(out, h.format.wBitsPerSample);
    Put32(out, h.pid);
    Put64(out, static_cast<std::uint64_t>(h.startTime));
    Put32(out, static_cast<std::uint32_t>(h.destination.size()));
    out.insert(out.end(), h.destination.begin(), h.destination.end());
    out.resize(HeaderBytes(h.destination.size()), 0);
    return out;
}

bool DecodeHeader(int fd, Header* h) {
    BYTE fixed[kFixedHeaderBytes];
    if (!ReadAt(fd, 0, fixed, sizeof fixed)) return false;
    if (std::memcmp(fixed, kMagic, sizeof kMagic) != 0) return false;
    const std::uint32_t length = Get(fixed + 44, 4);
    h->headerBytes = Get(fixed + 8, 4);
    if (length > kMaxDestinationBytes || h->headerBytes != HeaderBytes(length)) {
        return false;
    }
    h->state = Get(fixed + 12, 4);
    h->format.wFormatTag = static_cast<WORD>(Get(fixed + 16, 2));
    h->format.nChannels = static_cast<WORD>(Get(fixed + 18, 2));
    h->format.nSamplesPerSec = Get(fixed + 20, 4);
    h->format.nAvgBytesPerSec = Get(fixed + 24, 4);
    h->format.nBlockAlign = static_cast<WORD>(Get(fixed + 28, 2));
    h->format.wBitsPerSample = static_cast<WORD>(Get(fixed + 30, 2));
    h->format.cbSize = 0;
    h->pid = Get(fixed + 32, 4);
    h->startTime = static_cast<std::int64_t>(static_cast<std::uint64_t>(Get(fixed + 36, 4)) |
                                             static_cast<std::uint64_t>(Get(fixed + 40, 4)) << 32);
    if (h->format.nBlockAlign == 0) return false;
    h->destination.assign(length, '\0');
    return ReadAt(fd, kFixedHeaderBytes, h->destination.data(), length);
}

std::string Folder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (state != nullptr && state[0] == '/') {
        base = state;  // a relative value is ignored, as XDG says
    } else {
        const std::string home = talrec::kernel::HomeFolder();
        if (home.empty()) return {};
        base = home + "/.local/state";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/talrec/spool";
}

bool MakeFolder(std::string* folder, std::string* why) {
    *folder = Folder();
    if (folder->empty()) {
        *why = "there is no home folder";
        return false;
    }
    for (std::size_t i = 1; i <= folder->size(); ++i) {
        if (i < folder->size() && (*folder)[i] != '/') continue;
        const std::string part = folder->substr(0, i);
        if (!MakeOne(part)) {
            *why = "cannot create " + part + ": " + ErrorText(errno);
            return false;
        }
    }
    // The spool folder is the recorder's own: nobody else may read the recordings.
    struct stat st {};
    if (stat(folder->c_str(), &st) == 0 && (st.st_mode & 0777) != 0700 && st.st_uid == geteuid()) {
        chmod(folder->c_str(), 0700);
    }
    if (access(folder->c_str(), W_OK | X_OK) != 0) {
        *why = "cannot write in " + *folder + ": " + ErrorText(errno);
        return false;
    }
    return true;
}

std::string ErrorText(int err) {
    return std::system_category().message(err);
}

void MemoryTail::Append(const BYTE* data, std::size_t bytes) {
    while (bytes > 0) {
        const std::size_t at = static_cast<std::size_t>(size_ % kBlockBytes);
        if (at == 0) blocks_.push_back(std::make_unique<BYTE[]>(kBlockBytes));
        const std::size_t n = std::min(bytes, kBlockBytes - at);
        std::memcpy(blocks_.back().get() + at, data, n);
        data += n;
        bytes -= n;
        size_ += n;
    }
}

std::size_t MemoryTail::Read(std::uint64_t offset, BYTE* out, std::size_t bytes) const {
    std::size_t done = 0;
    while (done < bytes && offset < size_) {
        const std::size_t block = static_cast<std::size_t>(offset / kBlockBytes);
        const std::size_t at = static_cast<std::size_t>(offset % kBlockBytes);
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>({bytes - done, kBlockBytes - at, size_ - offset}));
        std::memcpy(out + done, blocks_[block].get() + at, n);
        done += n;
        offset += n;
    }
    return done;
}

}  // namespace talrec::platform::spool

namespace talrec::platform {

std::vector<std::string> RecordingSpool::Files() {
    std::vector<std::string> files;
    const std::string folder = spool::Folder();
    if (folder.empty()) return files;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return files;
    const std::string suffix = spool::kSuffix;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        // Spools being made carry a leading dot until their header is whole.
        if (name.empty() || name[0] == '.' || name.size() <= suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        files.push_back(folder + "/" + name);
    }
    closedir(dir);
    // Names begin with the creation time, zero-padded: their order is the order of creation.
    std::sort(files.begin(), files.end());
    return files;
}

RecordingSpool::Open RecordingSpool::OpenOrphan(const std::string& file,
                                                std::unique_ptr<RecordingSpool>* spool) {
    const int fd = open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return Open::Failed;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        close(fd);
        return err == EWOULDBLOCK ? Open::Owned : Open::Failed;
    }
    auto s = std::make_unique<State>();
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !spool::DecodeHeader(fd, &s->header) ||
        static_cast<std::uint64_t>(st.st_size) < s->header.headerBytes) {
        close(fd);
        return Open::NotASpool;
    }
    s->fd = fd;
    s->file = file;
    s->orphan = true;
    const std::uint64_t bytes = static_cast<std::uint64_t>(st.st_size) - s->header.headerBytes;
    s->fileBytes = bytes;
    s->appended = bytes;
    s->consumed = bytes;
    spool->reset(new RecordingSpool(std::move(s)));
    return Open::Opened;
}

RecordingSpool::Info RecordingSpool::GetInfo() const {
    Info info;
    info.file = s_->file;
    info.destination = s_->header.destination;
    info.format = s_->header.format;
    info.ownerPid = s_->header.pid;
    info.startTime = s_->header.startTime;
    const std::uint64_t align = s_->header.format.nBlockAlign;
    info.dataBytes = Length() / align * align;
    info.saved = s_->header.state == spool::kStateSaved;
    return info;
}

}  // namespace talrec::platform
