// talrec: the control's command-line host. One subcommand per job, looked up by name in the
// table below; each subcommand's record (host/Commands.h) says its options and help.
#include <cstdio>
#include <cstring>

#include "host/Commands.h"

namespace talrec::host {

std::span<const Command* const> AllCommands() {
    static constexpr const Command* kCommands[] = {
        &kDemoCommand,    &kRecordCommand,   &kRecoverCommand,    &kPlayCommand,
        &kDevicesCommand, &kRegisterCommand, &kUnregisterCommand, &kHostCommand,
        &kServeCommand,   &kOpenCommand,     &kPairCommand,       &kConvertCommand,
    };
    return kCommands;
}

}  // namespace talrec::host

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
    for (const Command* c : AllCommands()) {
        if (std::strcmp(argv[1], c->name) != 0) continue;
        int status = 0;
        std::optional<Arguments> arguments = ParseCommandLine(*c, argc - 2, argv + 2, status);
        return arguments ? c->run(*arguments) : status;
    }
    std::fprintf(stderr, "talrec: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
