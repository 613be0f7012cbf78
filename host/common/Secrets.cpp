#include "host/common/Secrets.h"

#include <cstdint>
#include <random>

namespace talrec::host {

std::string NewToken() {
    // The standard library's non-deterministic source (the CPU's or the kernel's generator).
    std::random_device source;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 8; ++i) {
        std::uint32_t word = source();
        for (int b = 0; b < 4; ++b) {
            unsigned byte = (word >> (8 * b)) & 0xFF;
            out.push_back(kDigits[byte >> 4]);
            out.push_back(kDigits[byte & 0xF]);
        }
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
