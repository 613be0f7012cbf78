// What the command-line tools show while recording and playing: an input-level bar and the
// times, redrawn in place on a terminal and written as plain lines (once a second, and at
// each change of state) elsewhere.
#pragma once

#include <cstdio>
#include <string>

namespace talrec::host {

inline constexpr int kMeterWidth = 40;

// "00:03.2": minutes, seconds and tenths.
std::string FormatClock(double seconds);
// "[##########..............................]": level 0..100 over `width` cells, clamped.
std::string LevelBar(int level, int width = kMeterWidth);

class MeterDisplay {
  public:
    explicit MeterDisplay(std::FILE* out);
    bool terminal() const { return terminal_; }

    // Shows one status line: redrawn on a terminal; elsewhere written when `state` changed
    // or a second of `elapsed` has passed since the last line written.
    void Show(const std::string& line, const std::string& state, double elapsed);
    // Ends the status line, so that what follows starts on a line of its own.
    void Finish();

  private:
    std::FILE* out_;
    bool terminal_;
    bool open_ = false;  // a redrawn line is on the screen
    std::string lastState_;
    double lastPlain_ = -1;
};

}  // namespace talrec::host
