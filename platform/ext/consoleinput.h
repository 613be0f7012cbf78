// Keyboard input for the command-line tools: single key presses from standard input, without
// waiting for Enter and without echo while standard input is a terminal.
#pragma once

#ifdef _WIN32
#error "a Linux extension with no counterpart in the Windows SDK"
#else
namespace talrec::platform {

class ConsoleKeys {
  public:
    // Puts a terminal standard input into single-key mode (no line editing, no echo; signals
    // keep working) until the object is destroyed. Other input is read as it comes.
    ConsoleKeys();
    ~ConsoleKeys();  // restores the terminal's settings
    ConsoleKeys(const ConsoleKeys&) = delete;
    ConsoleKeys& operator=(const ConsoleKeys&) = delete;

    static constexpr int kNone = -1;  // no key within the wait
    static constexpr int kEnd = -2;   // standard input has ended (or cannot be read)

    // Waits up to timeoutMs for one byte of input; returns it (0..255), kNone or kEnd.
    // From one thread at a time.
    int Read(int timeoutMs);

  private:
    bool restore_ = false;
    unsigned char saved_[128] = {};  // the terminal's settings before, restored at the end
};

}  // namespace talrec::platform

#endif  // _WIN32
