// talrec host: a container of the control that speaks JSON-RPC 2.0 over standard input and
// output, one JSON object per line. The message loop runs on the main thread (the host's
// user-interface thread); a reader thread hands each request line to it, so script calls,
// timer ticks and level messages interleave as in any container. Events are written as
// notifications the moment they are fired, so before the reply of the call that raised them.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "host/ComContainer.h"
#include "host/Commands.h"
#include "host/LineReader.h"
#include "host/RpcProtocol.h"
#include "platform/console.h"
#include "platform/grantedfolders.h"
#include "platform/objbase.h"
#include "platform/winuser.h"

namespace talrec::host {
namespace {

constexpr char kDefaultProgId[] = "TALRECORDERFORDV.TalRecorderForDvCtrl.1";

void PrintHostUsage(std::FILE* out) {
    std::fprintf(
        out,
        "usage: talrec host [--allow-dir DIR]... [--lcid N] [--progid PROGID] [--no-window]\n"
        "  A container of the control speaking JSON-RPC 2.0 on standard input and\n"
        "  output, one object per line. --allow-dir grants a folder for the paths\n"
        "  that calls pass (besides the data folder); --lcid sets the locale of name\n"
        "  lookup (default 0x0409: type-library names; 0: the control's own table).\n"
        "  --no-window leaves the control's window to host.createWindow.\n");
}

// Everything below runs on the loop's thread, which alone writes the protocol stream.
class Host {
  public:
    Host(std::FILE* out, LCID lcid) : out_(out), lcid_(lcid) {}

    void Write(const std::string& line) {
        std::fputs(line.c_str(), out_);
        std::fputc('\n', out_);
        std::fflush(out_);
    }

    void Handle(const std::string& line, MessageLoop& loop) {
        auto parsed = ParseRequestLine(line);
        if (auto* error = std::get_if<ErrorReply>(&parsed)) {
            Write(FormatError(*error));
            return;
        }
        const Request& request = std::get<Request>(parsed);
        auto reply = [&](const std::string& text) {
            if (!request.isNotification) Write(text);
        };
        if (request.method == "host.quit") {
            reply(FormatResult(request.id, 0));
            loop.Quit(0);
            return;
        }
        if (request.method == "host.createWindow" || request.method == "host.destroyWindow") {
            HRESULT hr = request.method == "host.createWindow" ? container_->CreateControlWindow()
                                                               : container_->DestroyControlWindow();
            reply(SUCCEEDED(hr) ? FormatResult(request.id, 0)
                                : FormatError(request.id, hr, "the window could not be changed"));
            return;
        }
        CallResult result = container_->Call(request.method, request.params, lcid_);
        if (result.badParams) {
            reply(FormatError(request.id, kInvalidParams, result.message));
        } else if (FAILED(result.hr)) {
            reply(FormatError(request.id, result.hr, result.message));
        } else {
            reply(FormatResult(request.id, result.result));
        }
    }

    std::unique_ptr<ComContainer> container_;

  private:
    std::FILE* out_;
    LCID lcid_;
};

}  // namespace
}  // namespace talrec::host

int RunHost(int argc, char** argv) {
    using namespace talrec::host;
    LCID lcid = 0x0409;
    std::string progId = kDefaultProgId;
    bool createWindow = true;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHostUsage(stdout);
            return 0;
        }
        if (arg == "--no-window") {
            createWindow = false;
            continue;
        }
        if ((arg == "--allow-dir" || arg == "--lcid" || arg == "--progid") && i + 1 < argc) {
            std::string value = argv[++i];
            if (arg == "--allow-dir" && !talrec::platform::ContainerGrantFolder(value)) {
                std::fprintf(stderr, "talrec host: cannot use folder %s\n", value.c_str());
                return 2;
            }
            if (arg == "--lcid") {
                char* end = nullptr;
                lcid = static_cast<LCID>(std::strtoul(value.c_str(), &end, 0));
                if (end == value.c_str() || *end != '\0') {
                    std::fprintf(stderr, "talrec host: --lcid takes a number\n");
                    return 2;
                }
            }
            if (arg == "--progid") progId = value;
            continue;
        }
        std::fprintf(stderr, "talrec host: unexpected argument %s\n", arg.c_str());
        PrintHostUsage(stderr);
        return 2;
    }
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
        Host host(protocol, lcid);
        std::string error;
        host.container_ = ComContainer::Create(progId, error);
        if (!host.container_) {
            std::fprintf(stderr, "talrec host: %s\n", error.c_str());
            CoUninitialize();
            return 1;
        }
        SetMessageBoxHook([&host](HWND, const char* text, const char*, UINT) {
            host.Write(FormatNotification("host.messageBox", nlohmann::json::array({text})));
            return IDOK;
        });
        host.container_->Connect([&host](const std::string& name, const nlohmann::json& args) {
            host.Write(FormatNotification(name, args));
        });
        if (createWindow) host.container_->CreateControlWindow();

        // Reader thread: reads request lines and hands them to the loop; at the end of the
        // input it asks the loop to quit.
        MessageLoop::Poster poster = loop.GetPoster();
        std::thread reader([poster, &host, &loop] {
            std::string line;
            for (;;) {
                LineStatus status = ReadBoundedLine(std::cin, line, kMaxLineBytes);
                if (status == LineStatus::End) break;
                if (status == LineStatus::TooLong) {
                    poster.Post([&host] {
                        host.Write(FormatError(nullptr, kInvalidRequest, "request line too long"));
                    });
                    continue;
                }
                if (line.empty()) continue;
                poster.Post([&host, &loop, line] { host.Handle(line, loop); });
            }
            poster.Quit(0);
        });
        status = loop.Run();
        SetMessageBoxHook({});
        host.container_.reset();
        // The reader may still wait for input after host.quit; the process ends without it.
        reader.detach();
    }
    CoUninitialize();
    std::fflush(protocol);
    return status;
}
