#include <cstring>

#include "host/Commands.h"

namespace talrec::host {
namespace {

const Option* FindOption(const Command& command, std::string_view name) {
    for (const Option& option : command.options) {
        if (name == option.name) return &option;
    }
    return nullptr;
}

void PrintUsageLine(const Command& command, std::FILE* out) {
    std::fprintf(out, "usage: talrec %s%s%s\n", command.name, *command.synopsis ? " " : "",
                 command.synopsis);
}

// Names the fault and the usage line on standard error; the exit status of a wrong command line.
int Refuse(const Command& command, const std::string& fault) {
    std::fprintf(stderr, "talrec %s: %s\n", command.name, fault.c_str());
    PrintUsageLine(command, stderr);
    std::fprintf(stderr, "'talrec %s --help' says more.\n", command.name);
    return 2;
}

}  // namespace

bool Arguments::Has(std::string_view option) const {
    for (const auto& [name, value] : options_) {
        if (name == option) return true;
    }
    return false;
}

std::optional<std::string> Arguments::Value(std::string_view option) const {
    std::optional<std::string> last;
    for (const auto& [name, value] : options_) {
        if (name == option) last = value;
    }
    return last;
}

std::vector<std::string> Arguments::Values(std::string_view option) const {
    std::vector<std::string> values;
    for (const auto& [name, value] : options_) {
        if (name == option) values.push_back(value);
    }
    return values;
}

void PrintCommandHelp(const Command& command, std::FILE* out) {
    PrintUsageLine(command, out);
    std::fputs(command.help, out);
}

std::optional<Arguments> ParseCommandLine(const Command& command, int argc, char** argv,
                                          int& exitCode) {
    Arguments arguments;
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string word = argv[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            arguments.positional_.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "--help" || word == "-h") {
            PrintCommandHelp(command, stdout);
            exitCode = 0;
            return std::nullopt;
        }
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const Option* option = FindOption(command, name);
        if (option == nullptr) {
            exitCode = Refuse(command, "unknown option " + name);
            return std::nullopt;
        }
        if (option->value == nullptr) {
            if (equals != std::string::npos) {
                exitCode = Refuse(command, name + " takes no value");
                return std::nullopt;
            }
            arguments.options_.emplace_back(name, "");
        } else if (equals != std::string::npos) {
            arguments.options_.emplace_back(name, word.substr(equals + 1));
        } else if (i + 1 < argc) {
            arguments.options_.emplace_back(name, argv[++i]);
        } else {
            exitCode = Refuse(command, name + " needs a value");
            return std::nullopt;
        }
    }
    const int count = static_cast<int>(arguments.positional_.size());
    if (count < command.minArguments) {
        exitCode = Refuse(command, count == 0 ? "arguments missing" : "too few arguments");
        return std::nullopt;
    }
    if (command.maxArguments >= 0 && count > command.maxArguments) {
        exitCode =
            Refuse(command, "unexpected argument " + arguments.positional_[command.maxArguments]);
        return std::nullopt;
    }
    exitCode = 0;
    return arguments;
}

}  // namespace talrec::host
