// talrec host: a container of the control that speaks JSON-RPC 2.0 over standard input and
// output, one JSON object per line (the session itself: host/RpcSession.h). The message loop
// runs on the main thread (the host's user-interface thread); a reader thread hands each
// request line to it, so script calls, timer ticks and level messages interleave as in any
// container.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "host/Commands.h"
#include "host/common/ComContainer.h"
#include "host/common/ControlClass.h"
#include "host/common/DebugRoute.h"
#include "host/common/TerminalText.h"
#include "host/rpc/LineReader.h"
#include "host/rpc/RpcProtocol.h"
#include "host/rpc/RpcSession.h"
#include "platform/ext/console.h"
#include "platform/ext/grantedfolders.h"
#include "platform/ext/messageloop.h"
#include "platform/objbase.h"
#include "platform/winuser.h"

namespace talrec::host {
namespace {

constexpr Option kOptions[] = {
    {"--allow-dir", "DIR"}, {"--lcid", "N"}, {"--progid", "PROGID"}, {"--no-window", nullptr}};

// Writes one protocol line; on the loop's thread, which alone writes the protocol stream.
void WriteLine(std::FILE* out, const std::string& line) {
    std::fputs(line.c_str(), out);
    std::fputc('\n', out);
    std::fflush(out);
}

int RunHost(const Arguments& arguments) {
    LCID lcid = 0x0409;
    if (auto text = arguments.Value("--lcid")) {
        char* end = nullptr;
        lcid = static_cast<LCID>(std::strtoul(text->c_str(), &end, 0));
        if (end == text->c_str() || *end != '\0') {
            std::fprintf(stderr, "talrec host: --lcid takes a number\n");
            return 2;
        }
    }
    for (const std::string& folder : arguments.Values("--allow-dir")) {
        if (!talrec::platform::ContainerGrantFolder(folder)) {
            std::fprintf(stderr, "talrec host: cannot use folder %s\n",
                         TerminalText(folder).c_str());
            return 2;
        }
    }
    const std::string progId = arguments.Value("--progid").value_or(kControlProgId);
    const bool createWindow = !arguments.Has("--no-window");
    std::setlocale(LC_ALL, "");
    NoteWaitingRecordings("host");
    // Standard output carries only the protocol; what else writes to it goes to stderr.
    std::FILE* protocol = talrec::platform::TakeStandardOutput();
    if (protocol == nullptr) {
        std::fprintf(stderr, "talrec host: cannot set up standard output\n");
        return 1;
    }

    CoInitialize(nullptr);
    int status = 0;
    {
        MessageLoop loop;
        // The platform's debug output: a host.debug notification, and a line on stderr; set
        // before the control is made, so that a failure while making it is shown too.
        DebugRoute debug(loop, [protocol](const std::string& text, ULONGLONG) {
            WriteLine(protocol, FormatNotification("host.debug", nlohmann::json::array({text})));
            std::fprintf(stderr, "%s\n", TerminalText(text).c_str());
        });
        std::string error;
        std::unique_ptr<ComContainer> container = ComContainer::Create(progId, error);
        if (!container) {
            std::fprintf(stderr, "talrec host: %s\n", error.c_str());
            CoUninitialize();
            return 3;  // the control is not registered or cannot be created
        }
        auto write = [protocol](const std::string& line) { WriteLine(protocol, line); };
        auto session = std::make_unique<RpcSession>(std::move(container), lcid, write);
        session->onQuit = [&loop] { loop.Quit(0); };
        // The one session hears every box, also one raised outside a request.
        RpcSession* only = session.get();
        RpcSession::InstallMessageBoxRoute([only](const std::string& text) {
            only->Notify("host.messageBox", nlohmann::json::array({text}));
        });
        if (createWindow) session->Container().CreateControlWindow();

        // The reader thread reads request lines and hands them to the loop until the input ends.
        status = ServeWithReader(loop, session, [only, write](const MessageLoop::Poster& poster) {
            std::string line;
            for (;;) {
                const LineStatus result = ReadBoundedLine(std::cin, line, kMaxLineBytes);
                if (result == LineStatus::End) return 0;
                if (result == LineStatus::TooLong) {
                    poster.Post([write] {
                        write(FormatError(nullptr, kInvalidRequest, "request line too long"));
                    });
                    continue;
                }
                if (line.empty()) continue;
                poster.Post([only, line] { only->Handle(line); });
            }
        });
    }
    CoUninitialize();
    std::fflush(protocol);
    return status;
}

}  // namespace

const Command kHostCommand = {
    "host",
    "[--allow-dir DIR]... [--lcid N] [--progid PROGID] [--no-window]",
    "host the control, JSON-RPC on stdin and stdout",
    "  A container of the control speaking JSON-RPC 2.0 on standard input and\n"
    "  output, one object per line. --allow-dir grants a folder for the paths\n"
    "  that calls pass (besides the data folder); --lcid sets the locale of name\n"
    "  lookup (default 0x0409: type-library names; 0: the control's own table).\n"
    "  --no-window leaves the control's window to host.createWindow.\n",
    kOptions,
    0,
    0,
    RunHost};

}  // namespace talrec::host
