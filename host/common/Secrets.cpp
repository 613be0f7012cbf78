#include "host/common/Secrets.h"

#include <cstdint>
#include <stdexcept>

#include "platform/bcrypt.h"

namespace talrec::host {

std::string NewToken() {
    // The system's generator for secrets (on Linux the kernel's); no secret without it.
    unsigned char bytes[32];
    if (!BCRYPT_SUCCESS(
            BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        throw std::runtime_error("the system's random numbers cannot be had");
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned byte : bytes) {
        out.push_back(kDigits[byte >> 4]);
        out.push_back(kDigits[byte & 0xF]);
    }
    return out;
}

bool TokenMatches(std::string_view given, std::string_view expected) {
    // Every byte of the expected secret is compared whatever the given one holds, so the time
    // tells nothing about how much of it was right.
    unsigned difference = given.size() == expected.size() ? 0u : 1u;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        unsigned char a = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        difference |= a ^ static_cast<unsigned char>(expected[i]);
    }
    return difference == 0 && !expected.empty();
}

}  // namespace talrec::host
