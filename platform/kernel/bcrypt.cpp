#include "platform/bcrypt.h"

#include <sys/random.h>

#include <cerrno>

NTSTATUS BCryptGenRandom(BCRYPT_ALG_HANDLE algorithm, unsigned char* buffer, ULONG size,
                         ULONG flags) {
    constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000DL);
    constexpr NTSTATUS kUnsuccessful = static_cast<NTSTATUS>(0xC0000001L);
    if (algorithm != nullptr || flags != BCRYPT_USE_SYSTEM_PREFERRED_RNG ||
        (buffer == nullptr && size != 0)) {
        return kInvalidParameter;
    }
    ULONG done = 0;
    while (done < size) {
        const ssize_t got = getrandom(buffer + done, size - done, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return kUnsuccessful;
        }
        done += static_cast<ULONG>(got);
    }
    return STATUS_SUCCESS;
}
