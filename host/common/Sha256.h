// SHA-256 of a byte string, for what is kept as a digest only (the pairing tokens). Pure, any
// thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace talrec::host {

std::array<std::uint8_t, 32> Sha256(std::string_view bytes);

// The digest as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace talrec::host
