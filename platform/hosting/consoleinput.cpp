#include "platform/ext/consoleinput.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace talrec::platform {

static_assert(sizeof(termios) <= 128, "termios must fit the saved settings");

ConsoleKeys::ConsoleKeys() {
    termios settings{};
    if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &settings) != 0) return;
    std::memcpy(saved_, &settings, sizeof settings);
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    restore_ = tcsetattr(STDIN_FILENO, TCSANOW, &settings) == 0;
}

ConsoleKeys::~ConsoleKeys() {
    if (!restore_) return;
    termios settings{};
    std::memcpy(&settings, saved_, sizeof settings);
    tcsetattr(STDIN_FILENO, TCSANOW, &settings);
}

int ConsoleKeys::Read(int timeoutMs) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int ready = poll(&p, 1, timeoutMs);
    if (ready < 0) return errno == EINTR ? kNone : kEnd;
    if (ready == 0) return kNone;
    if ((p.revents & POLLIN) == 0) return kEnd;  // hang-up or error without data
    unsigned char byte = 0;
    ssize_t n = read(STDIN_FILENO, &byte, 1);
    if (n == 1) return byte;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return kNone;
    return kEnd;
}

}  // namespace talrec::platform
