// talrec: the control's command-line host. One subcommand per job, looked up by name.
#include <cstdio>
#include <cstring>

#include "host/Commands.h"

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(int argc, char** argv);
};

constexpr Command kCommands[] = {
    {"demo", "demo                          record 3 s, convert to WMA, play it back", RunDemo},
    {"record", "record FILE [--seconds N]     record into a WAV file with a level meter",
     RunRecord},
    {"play", "play FILE                     play a sound file with its progress", RunPlay},
    {"devices", "devices                       list the capture and playback devices", RunDevices},
    {"register", "register [MODULE]             register the control in the user's registry",
     RunRegister},
    {"unregister", "unregister [MODULE]           remove the control's registration",
     RunUnregister},
    {"host", "host [--allow-dir DIR]...      host the control, JSON-RPC on stdin and stdout",
     RunHost},
    {"serve", "serve [--port N]              the browser bridge: a web page drives the control",
     RunServe},
    {"convert", "convert SOURCE.wav DEST.wma   convert a WAV file to WMA", RunConvert},
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "usage: talrec COMMAND [ARGS]\n\ncommands:\n");
    for (const Command& c : kCommands) std::fprintf(out, "  %s\n", c.summary);
    std::fprintf(out, "\n'talrec COMMAND --help' describes a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "talrec: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
