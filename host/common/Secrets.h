// The secrets the bridge hands out (its run token, a paired origin's token): how they are made
// and compared. Pure functions, any thread.
#pragma once

#include <string>
#include <string_view>

namespace talrec::host {

// 32 random bytes from the system's random source, as 64 lower-case hex digits.
std::string NewToken();

// Compares a given secret with the expected one in time that depends only on the expected
// one's length; an empty expected secret matches nothing.
bool TokenMatches(std::string_view given, std::string_view expected);

}  // namespace talrec::host
