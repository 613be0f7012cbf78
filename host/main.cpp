// talrec: the control's command-line host. One subcommand per job, looked up by name in the
// system's command table (CommandTable.cpp, on Windows CommandTableWin32.cpp); each
// subcommand's record (host/Commands.h) says its options and help.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "host/Commands.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "usage: talrec COMMAND [ARGS]\n\ncommands:\n");
    for (const talrec::host::Command* c : talrec::host::AllCommands()) {
        std::string line = std::string(c->name) + (*c->synopsis ? " " : "") + c->synopsis;
        if (line.size() > 44) line += "\n" + std::string(2 + 44, ' ');  // the summary below
        std::fprintf(out, "  %-44s %s\n", line.c_str(), c->summary);
    }
    std::fprintf(out, "\n'talrec COMMAND --help' describes a command.\n");
}

// Whether a browser started talrec as its native-messaging host: it passes no command, only
// the calling extension: Chromium its origin ("chrome-extension://ID/", perhaps followed by
// --parent-window=N), Firefox the host manifest's path and the extension's id.
bool StartedByBrowser(int argc, char** argv) {
    const std::string_view first = argv[1];
    if (first.starts_with("chrome-extension://")) return true;
    return argc == 3 && first.size() > 5 && first.ends_with(".json");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace talrec::host;
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    // The command's name and the words it reads (for a browser's call, all of them).
    const bool browser = StartedByBrowser(argc, argv);
    const char* name = browser ? "native-host" : argv[1];  // a Linux command only
    const int skip = browser ? 1 : 2;
    for (const Command* c : AllCommands()) {
        if (std::strcmp(name, c->name) != 0) continue;
        int status = 0;
        std::optional<Arguments> arguments = ParseCommandLine(*c, argc - skip, argv + skip, status);
        if (!arguments) return status;
#ifdef TALREC_REGISTER_ON_FIRST_USE
        // An installed package needs no set-up: the first command of each user registers the
        // control, except the commands that manage the registration themselves.
        if (c != &kRegisterCommand && c != &kUnregisterCommand) RegisterOnFirstUse();
#endif
        return c->run(*arguments);
    }
    std::fprintf(stderr, "talrec: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
