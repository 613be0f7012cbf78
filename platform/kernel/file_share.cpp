// Share modes across handles and processes, over open-file-description locks.
//
// Each handle claims one slot: a lock on a byte of the "present" region, shared for a readable
// descriptor and exclusive for a write-only one (a lock's type must match the descriptor's
// mode), so that the bytes of a slot are only ever locked by one writer or by readers. In its
// slot the handle then locks one byte for each access it has and one for each share it does
// not grant. Whether anyone else has an access or denies one is a test for any lock in that
// region. The regions lie far beyond the end of any real file. Closing the descriptor drops
// every lock of the handle at once; so does the end of the process.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/kernel/file_internal.h"

namespace talrec::kernel {
namespace {

constexpr off_t kBase = 0x7FFFFFFF00000000;
constexpr off_t kSlots = 1024;

enum Region { kPresent, kHasRead, kHasWrite, kHasDelete, kDeniesRead, kDeniesWrite, kDeniesDelete };

off_t Start(Region region) {
    return kBase + region * kSlots;
}

// Serialises checking and claiming among the threads of this process; the flock does the same
// across processes.
std::mutex g_openers;

// True when a handle other than the one on fd holds a lock in the region. A file system
// without these locks holds none.
bool Held(int fd, Region region) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = Start(region);
    lock.l_len = kSlots;
    if (::fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
    return lock.l_type != F_UNLCK;
}

bool Lock(int fd, off_t at, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = at;
    lock.l_len = 1;
    while (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace

ShareLock::ShareLock(int fd) : fd_(fd), process_(g_openers) {
    using namespace std::chrono_literals;
    // Others hold the flock only while they check and claim; a second is far beyond that.
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    for (;;) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            flocked_ = true;
            ok_ = true;
            return;
        }
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) {  // no flock on this descriptor or file system
            ok_ = true;
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(1ms);
    }
}

ShareLock::~ShareLock() {
    if (flocked_) ::flock(fd_, LOCK_UN);
}

bool ShareLock::Conflicts(DWORD access, DWORD share) const {
    const struct {
        DWORD bit;
        Region has, denies;
    } kinds[] = {{kRead, kHasRead, kDeniesRead},
                 {kWrite, kHasWrite, kDeniesWrite},
                 {kDelete, kHasDelete, kDeniesDelete}};
    for (const auto& k : kinds) {
        if ((access & k.bit) != 0 && Held(fd_, k.denies)) return true;
        if ((share & k.bit) == 0 && Held(fd_, k.has)) return true;
    }
    return false;
}

bool ShareLock::Claim(DWORD access, DWORD share, int fdMode) const {
    const short type = fdMode == O_WRONLY ? F_WRLCK : F_RDLCK;
    off_t slot = 0;
    for (;; ++slot) {
        if (slot == kSlots) return false;
        if (Lock(fd_, Start(kPresent) + slot, type)) break;
        if (errno != EAGAIN && errno != EACCES) return true;  // no such locks here: no claims
    }
    const struct {
        bool wanted;
        Region region;
    } marks[] = {{(access & kRead) != 0, kHasRead},     {(access & kWrite) != 0, kHasWrite},
                 {(access & kDelete) != 0, kHasDelete}, {(share & kRead) == 0, kDeniesRead},
                 {(share & kWrite) == 0, kDeniesWrite}, {(share & kDelete) == 0, kDeniesDelete}};
    for (const auto& m : marks) {
        if (m.wanted && !Lock(fd_, Start(m.region) + slot, type)) return false;
    }
    return true;
}

}  // namespace talrec::kernel
