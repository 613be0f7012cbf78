// Names a page or a file system can hold, as a terminal line shows them: nothing that moves the
// cursor, erases, sets the clipboard, reorders or hides text reaches the terminal.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "host/common/TerminalText.h"

namespace talrec::host {
namespace {

TEST(TerminalText, HostileNamesAreShownAsTheBytesTheyHold) {
    const std::pair<std::string, std::string> cases[] = {
        {"a.wav\rtalrec: stopped\n\t", "a.wav\\rtalrec: stopped\\n\\t"},        // a forged line
        {"\x1b[2K\x1b]52;c;ZXZpbA==\x07", "\\x1b[2K\\x1b]52;c;ZXZpbA==\\x07"},  // erase, clipboard
        {"\xc2\x9b\x32K\x7f", "\\u009b2K\\x7f"},  // C1 CSI in UTF-8, DEL
        {"take\xe2\x80\xaevaw.exe\xe2\x80\xa8", "take\\u202evaw.exe\\u2028"},  // bidi, separator
        {"\xff\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x80",  // stray, overlong, surrogate,
         "\\xff\\xc0\\xaf\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80\\xe2\\x80"},  // too high, cut short
        {"a\\x1b/Grüße 日本 🎙.wav",
         "a\\\\x1b/Grüße 日本 🎙.wav"},  // a backslash; plain text
    };
    for (const auto& [name, shown] : cases) EXPECT_EQ(TerminalText(name), shown);
}

// Whatever the bytes, the text shown is valid, visible UTF-8: escaping it again changes only
// its backslashes.
TEST(TerminalText, AnyBytesBecomeInertText) {
    std::mt19937 random(2028);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 24, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        const std::string shown = TerminalText(bytes);
        std::string doubled;
        for (char c : shown) doubled += c == '\\' ? std::string("\\\\") : std::string(1, c);
        ASSERT_EQ(TerminalText(shown), doubled) << testing::PrintToString(bytes);
    }
}

}  // namespace
}  // namespace talrec::host
