// talrec recover [--list] [--into DIR]: writes the recordings that a crashed or killed
// recorder left in its spool folder into WAV files, and removes their spools. Only spools
// whose owning process is gone are touched (the owner's lock tells), so a recording in
// progress elsewhere is never taken.
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "host/Commands.h"
#include "host/TerminalText.h"
#include "platform/spool.h"

namespace {

using talrec::platform::HSPOOL;
using talrec::platform::SPOOLINFO;

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: talrec recover [--list] [--into DIR]\n"
                 "  Writes each recording left unsaved by a recorder that ended without\n"
                 "  stopping it (a crash, a kill, a power cut) into a WAV file, then removes\n"
                 "  its spool: at the file the recording was meant for, or beside it as\n"
                 "  \"NAME (recovered).wav\" when that file exists; with --into DIR, into DIR\n"
                 "  under the same rule. --list only lists them: destination, length in\n"
                 "  seconds, start time. Recordings still being made are left alone.\n"
                 "  exit: 0 done (or nothing to do), 1 a recording could not be written,\n"
                 "  2 wrong arguments\n");
}

struct Waiting {
    HSPOOL spool = nullptr;
    SPOOLINFO info;
};

// The unsaved spools whose owner is gone, each opened and locked. Spools that were saved
// before their owner went are removed when `tidy` (nothing is left to recover from them).
std::vector<Waiting> OpenWaiting(bool tidy) {
    std::vector<Waiting> waiting;
    for (const std::string& file : talrec::platform::SpoolFiles()) {
        HSPOOL spool = nullptr;
        if (talrec::platform::SpoolOpenOrphan(file.c_str(), &spool) !=
            talrec::platform::SpoolOpen::Opened) {
            continue;
        }
        Waiting w{spool, {}};
        talrec::platform::SpoolGetInfo(spool, &w.info);
        if (w.info.saved) {
            tidy ? talrec::platform::SpoolDiscard(spool) : talrec::platform::SpoolRelease(spool);
            continue;
        }
        waiting.push_back(std::move(w));
    }
    return waiting;
}

double Seconds(const SPOOLINFO& info) {
    const double rate = info.format.nAvgBytesPerSec;
    return rate > 0 ? static_cast<double>(info.dataBytes) / rate : 0;
}

std::string LocalTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    char text[32] = "?";
    if (localtime_r(&t, &local) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    }
    return text;
}

std::string FailureText(DWORD error) {
    switch (error) {
        case ERROR_PATH_NOT_FOUND:
            return "its folder does not exist (--into DIR writes it elsewhere)";
        case ERROR_ACCESS_DENIED:
            return "access denied";
        case ERROR_SHARING_VIOLATION:
            return "the file is in use";
        case ERROR_DISK_FULL:
            return "the disk is full";
        default:
            return "error " + std::to_string(error);
    }
}

// "take.wav" -> "take (recovered).wav", then "take (recovered 2).wav", ...
std::string RecoveredName(const std::string& name, int attempt) {
    std::string stem = name;
    if (stem.size() > 4) {
        std::string ext = stem.substr(stem.size() - 4);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".wav") stem.resize(stem.size() - 4);
    }
    return stem + (attempt == 1 ? " (recovered)" : " (recovered " + std::to_string(attempt) + ")") +
           ".wav";
}

// Writes one recording into its folder (or `into`) without replacing any file; the path
// written, or empty with the reason.
std::string Recover(const Waiting& w, const std::string& into, std::string* why) {
    const std::filesystem::path destination(w.info.destination);
    const std::string name = destination.filename().string();
    const std::filesystem::path folder =
        into.empty() ? destination.parent_path() : std::filesystem::path(into);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string path =
            (folder / (attempt == 0 ? name : RecoveredName(name, attempt))).string();
        const DWORD error =
            talrec::platform::SpoolWriteWav(w.spool, path.c_str(), w.info.format, w.info.dataBytes,
                                            talrec::platform::SPOOL_WRITE_NEW);
        if (error == ERROR_SUCCESS) return path;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            *why = "cannot write " + path + ": " + FailureText(error);
            return {};
        }
    }
    *why = "no free file name beside " + (folder / name).string();
    return {};
}

}  // namespace

void NoteWaitingRecordings(const char* command) {
    std::vector<Waiting> waiting = OpenWaiting(false);
    for (const Waiting& w : waiting) talrec::platform::SpoolRelease(w.spool);
    if (waiting.empty()) return;
    const bool one = waiting.size() == 1;
    std::fprintf(stderr,
                 "talrec %s: %zu unsaved recording%s from an earlier session %s waiting; "
                 "'talrec recover' writes %s ('talrec recover --list' lists %s)\n",
                 command, waiting.size(), one ? "" : "s", one ? "is" : "are", one ? "it" : "them",
                 one ? "it" : "them");
}

int RunRecover(int argc, char** argv) {
    using talrec::host::TerminalText;
    bool list = false;
    std::string into;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (arg == "--list") {
            list = true;
        } else if (arg == "--into" && i + 1 < argc) {
            into = argv[++i];
            std::error_code ec;
            if (!std::filesystem::is_directory(into, ec)) {
                std::fprintf(stderr, "talrec recover: %s is not a folder\n",
                             TerminalText(into).c_str());
                return 2;
            }
        } else {
            std::fprintf(stderr, "talrec recover: unexpected argument %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }
    std::vector<Waiting> waiting = OpenWaiting(!list);
    if (waiting.empty() && !list) std::printf("no unsaved recordings\n");
    int status = 0;
    for (const Waiting& w : waiting) {
        if (list) {
            std::printf("%s  %.1f s  %s\n", TerminalText(w.info.destination).c_str(),
                        Seconds(w.info), LocalTime(w.info.startTime).c_str());
            talrec::platform::SpoolRelease(w.spool);
            continue;
        }
        std::string why;
        const std::string path = Recover(w, into, &why);
        if (path.empty()) {
            std::fprintf(stderr, "talrec recover: %s (the recording stays for another try)\n",
                         TerminalText(why).c_str());
            talrec::platform::SpoolRelease(w.spool);
            status = 1;
            continue;
        }
        std::printf("recovered %.1f s into %s\n", Seconds(w.info), TerminalText(path).c_str());
        talrec::platform::SpoolDiscard(w.spool);
    }
    return status;
}
