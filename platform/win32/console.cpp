// Console services on Windows: the C runtime's descriptors, as on Linux, in binary mode so that
// a protocol line ends in "\n" alone, as it does there.
#include "platform/ext/console.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/win32/sdk.h"

namespace talrec::platform {

std::FILE* TakeStandardOutput() {
    std::fflush(stdout);
    const int original = _dup(_fileno(stdout));
    if (original < 0) return nullptr;
    if (_dup2(_fileno(stderr), _fileno(stdout)) != 0) {
        _close(original);
        return nullptr;
    }
    _setmode(original, _O_BINARY);
    std::FILE* protocol = _fdopen(original, "wb");
    if (protocol == nullptr) _close(original);
    return protocol;
}

// Nothing is kept for the host to hand on: standard output goes to standard error.
std::FILE* CaptureStandardOutput() {
    return TakeStandardOutput();
}

std::string TakeCapturedOutput() {
    return {};
}

bool IsTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

}  // namespace talrec::platform
