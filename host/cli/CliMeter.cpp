#include "host/cli/CliMeter.h"

#include <algorithm>
#include <cmath>

#include "platform/ext/console.h"

namespace talrec::host {

std::string FormatClock(double seconds) {
    long tenths = std::lround(std::max(0.0, seconds) * 10);
    char text[32];
    std::snprintf(text, sizeof text, "%02ld:%02ld.%ld", tenths / 600, tenths / 10 % 60,
                  tenths % 10);
    return text;
}

std::string LevelBar(int level, int width) {
    int filled = (std::clamp(level, 0, 100) * width + 50) / 100;
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.') + "]";
}

MeterDisplay::MeterDisplay(std::FILE* out)
    : out_(out), terminal_(talrec::platform::IsTerminal(out)) {}

void MeterDisplay::Show(const std::string& line, const std::string& state, double elapsed) {
    if (terminal_) {
        std::fprintf(out_, "\r%s\033[K", line.c_str());
        open_ = true;
    } else if (state != lastState_ || lastPlain_ < 0 || elapsed - lastPlain_ >= 1.0) {
        std::fprintf(out_, "%s\n", line.c_str());
        lastPlain_ = elapsed;
    }
    lastState_ = state;
    std::fflush(out_);
}

void MeterDisplay::Finish() {
    if (open_) std::fputc('\n', out_);
    open_ = false;
    lastState_.clear();
    lastPlain_ = -1;
    std::fflush(out_);
}

}  // namespace talrec::host
