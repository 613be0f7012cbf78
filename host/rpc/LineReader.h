// Reads request lines with a bound on their length, so that a huge line costs no more memory
// than the bound.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace talrec::host {

enum class LineStatus { Line, TooLong, End };

// Reads up to the next newline (not kept; a trailing carriage return is dropped too). A line
// longer than `limit` bytes is consumed to its end and gives TooLong with `line` empty. End
// when the stream has ended with nothing read.
LineStatus ReadBoundedLine(std::istream& in, std::string& line, std::size_t limit);

}  // namespace talrec::host
