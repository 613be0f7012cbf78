// The talrec command's subcommands on Linux, in the order the command list shows them.
#include "host/Commands.h"

namespace talrec::host {

std::span<const Command* const> AllCommands() {
    static constexpr const Command* kCommands[] = {
        &kDemoCommand,
        &kRecordCommand,
        &kRecoverCommand,
        &kPlayCommand,
        &kDevicesCommand,
        &kRegisterCommand,
        &kUnregisterCommand,
        &kHostCommand,
        &kServeCommand,
        &kOpenCommand,
        &kPairCommand,
        &kNativeHostCommand,
        &kInstallBrowserHostCommand,
        &kConvertCommand,
    };
    return kCommands;
}

}  // namespace talrec::host
