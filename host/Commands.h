// The talrec command's subcommands. Each declares itself in one `Command` record: its name, its
// options and arguments, its help and the function that runs it. host/main.cpp lists the
// records; one parser (ParseCommandLine) reads every command line against its record, so every
// command answers --help and refuses a wrong command line the same way (exit 2).
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talrec::host {

struct Option {
    const char* name;   // "--port"
    const char* value;  // the value's name in the help ("N"), or nullptr for a flag
};

class Arguments;

struct Command {
    const char* name;      // "record"
    const char* synopsis;  // what follows the name in the usage line: "FILE [--seconds N]"
    const char* summary;   // one line for the list of commands
    const char* help;      // the rest of --help: what it does, its options, its exit statuses
    std::span<const Option> options;
    int minArguments;  // positional arguments
    int maxArguments;  // -1: any number
    int (*run)(const Arguments& arguments);
};

// A command line read against its command's record: the positional arguments in order and the
// options given, each as often as given.
class Arguments {
  public:
    const std::vector<std::string>& Positional() const { return positional_; }
    bool Has(std::string_view option) const;
    // The last value given for `option`, or nullopt.
    std::optional<std::string> Value(std::string_view option) const;
    // Every value given for `option`, in order.
    std::vector<std::string> Values(std::string_view option) const;

  private:
    friend std::optional<Arguments> ParseCommandLine(const Command&, int, char**, int&);
    std::vector<std::string> positional_;
    std::vector<std::pair<std::string, std::string>> options_;
};

// Reads `argv` (the words after the command's name). --help or -h prints the command's help on
// standard output and gives nullopt with `exitCode` 0; an unknown option, an option without
// its value, or a wrong number of arguments is named on standard error with the usage line,
// nullopt and `exitCode` 2. Options take their value as the next word or after "=";
// "--" ends the options.
std::optional<Arguments> ParseCommandLine(const Command& command, int argc, char** argv,
                                          int& exitCode);

// "usage: talrec NAME SYNOPSIS" and the help, as --help prints them.
void PrintCommandHelp(const Command& command, std::FILE* out);

// The commands, in the order the command list shows them.
std::span<const Command* const> AllCommands();

extern const Command kConvertCommand;
extern const Command kDemoCommand;
extern const Command kDevicesCommand;
extern const Command kHostCommand;
extern const Command kInstallBrowserHostCommand;
extern const Command kNativeHostCommand;
extern const Command kOpenCommand;
extern const Command kPairCommand;
extern const Command kPlayCommand;
extern const Command kRecordCommand;
extern const Command kRecoverCommand;
extern const Command kRegisterCommand;
extern const Command kServeCommand;
extern const Command kUnregisterCommand;

// Registers the installed control module as `talrec register` does; the command's exit status.
int RegisterInstalledControl();

// Whether the user's registry holds the control's ProgID.
bool ControlRegistered();

// When the user's registry does not hold the control, registers the installed module and
// says so (or that it failed) on standard error, once; prints nothing on standard output.
void RegisterOnFirstUse();

// The folder of the bridge's serve.json: $XDG_RUNTIME_DIR/talrec, else ~/.cache/talrec; on
// Windows talrec in the user's local application-data folder.
std::string ServeStateFolder();

// Says on standard error, once at the start of `command`, when recordings that an earlier
// session left unsaved are waiting for `talrec recover`.
void NoteWaitingRecordings(const char* command);

}  // namespace talrec::host
