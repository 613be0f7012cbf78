// Text for a terminal or a log from a source the user does not control: a path a page or a
// script named, a file name read from disk, a debug line that quotes either. Every byte that
// could move the cursor, erase a line, set a title or the clipboard, reorder what is shown or
// hide itself is written as a visible escape, so the line shows exactly the bytes it names.
#pragma once

#include <string>
#include <string_view>

namespace talrec::host {

// Printable ASCII and valid UTF-8 text pass unchanged, but for these, written as escapes:
// - a backslash as \\ (so an escape in the output always means one in the input);
// - tab, line feed and carriage return as \t, \n, \r; the other C0 controls and DEL as \xHH;
// - each byte that does not belong to a valid UTF-8 sequence (a stray continuation byte, an
//   overlong form, a surrogate, a sequence cut short, beyond U+10FFFF) as \xHH;
// - C1 controls (U+0080 to U+009F) and the characters that separate lines, change the
//   direction of the text or show nothing (U+2028, U+2029, the bidirectional controls, the
//   zero-width ones, U+FEFF, the tag characters...) as \uXXXX, or \UXXXXXXXX above U+FFFF.
std::string TerminalText(std::string_view text);

}  // namespace talrec::host
