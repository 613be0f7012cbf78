// The talrec command's subcommands on Windows: those whose platform pieces Windows has. Not yet:
// record, play and demo (their keys and meter use the Linux console services), devices (the
// Linux device list), open (the loopback client) and pair; recover reads the recording spool,
// which Windows does not have.
#include "host/Commands.h"

namespace talrec::host {

std::span<const Command* const> AllCommands() {
    static constexpr const Command* kCommands[] = {
        &kRegisterCommand, &kUnregisterCommand, &kHostCommand, &kConvertCommand, &kServeCommand,
    };
    return kCommands;
}

// A recording stays in memory until it stops on Windows: no spool, so none ever waits.
void NoteWaitingRecordings(const char*) {}

}  // namespace talrec::host
