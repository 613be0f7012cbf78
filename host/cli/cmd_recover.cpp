// talrec recover [--list] [--into DIR] [--discard NAME]: writes the recordings left in the
// spool folder (by a recorder that crashed or was killed, or that could not write them where
// they were meant to go) into WAV files, and removes their spools. Only spools whose owner
// has let them go are touched (the owner's lock tells), so a recording in progress elsewhere
// is never taken.
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "host/Commands.h"
#include "host/common/TerminalText.h"
#include "platform/ext/spool.h"

namespace talrec::host {
namespace {

using talrec::platform::RecordingSpool;

constexpr Option kOptions[] = {{"--list", nullptr}, {"--into", "DIR"}, {"--discard", "NAME"}};

// A waiting recording, opened and locked; its spool file stays when it goes, unless
// discarded (written, or --discard).
struct Waiting {
    std::unique_ptr<RecordingSpool> spool;
    RecordingSpool::Info info;
    void Discard() {
        spool->KeepFile(false);
        spool.reset();
    }
};

// The unsaved spools whose owner is gone, each opened and locked. Spools that were saved
// before their owner went are removed when `tidy` (nothing is left to recover from them).
std::vector<Waiting> OpenWaiting(bool tidy) {
    std::vector<Waiting> waiting;
    for (const std::string& file : RecordingSpool::Files()) {
        std::unique_ptr<RecordingSpool> spool;
        if (RecordingSpool::OpenOrphan(file, &spool) != RecordingSpool::Open::Opened) continue;
        const RecordingSpool::Info info = spool->GetInfo();
        if (info.saved) {
            if (!tidy) spool->KeepFile();
            continue;
        }
        spool->KeepFile();
        waiting.push_back({std::move(spool), info});
    }
    return waiting;
}

// The name a waiting recording goes by: its spool file's, without the folder and suffix.
std::string SpoolName(const std::string& file) {
    std::string name = std::filesystem::path(file).filename().string();
    const std::string suffix = ".spool";
    if (name.size() > suffix.size() && name.ends_with(suffix))
        name.resize(name.size() - suffix.size());
    return name;
}

double Seconds(const RecordingSpool::Info& info) {
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
            w.spool->WriteWav(path, w.info.format, w.info.dataBytes, RecordingSpool::kWriteNew);
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
    const std::size_t count = OpenWaiting(false).size();  // and let go again
    if (count == 0) return;
    const bool one = count == 1;
    std::fprintf(stderr,
                 "talrec %s: %zu unsaved recording%s from an earlier session %s waiting; "
                 "'talrec recover' writes %s ('talrec recover --list' lists %s)\n",
                 command, count, one ? "" : "s", one ? "is" : "are", one ? "it" : "them",
                 one ? "it" : "them");
}

namespace {

// Removes the waiting recording of that name without writing it.
int Discard(const std::string& name) {
    for (const std::string& file : RecordingSpool::Files()) {
        if (SpoolName(file) != SpoolName(name)) continue;
        std::unique_ptr<RecordingSpool> spool;
        const auto opened = RecordingSpool::OpenOrphan(file, &spool);
        if (opened == RecordingSpool::Open::Owned) {
            std::fprintf(stderr, "talrec recover: %s is still being recorded\n",
                         TerminalText(name).c_str());
            return 1;
        }
        if (opened != RecordingSpool::Open::Opened) break;
        const RecordingSpool::Info info = spool->GetInfo();
        spool.reset();  // and its file
        std::printf("discarded %s: %.1f s meant for %s\n", TerminalText(SpoolName(file)).c_str(),
                    Seconds(info), TerminalText(info.destination).c_str());
        return 0;
    }
    std::fprintf(stderr, "talrec recover: no recording waits as %s\n", TerminalText(name).c_str());
    return 1;
}

int RunRecover(const Arguments& arguments) {
    const bool list = arguments.Has("--list");
    const std::string into = arguments.Value("--into").value_or("");
    const std::string discard = arguments.Value("--discard").value_or("");
    std::error_code ec;
    if (!into.empty() && !std::filesystem::is_directory(into, ec)) {
        std::fprintf(stderr, "talrec recover: %s is not a folder\n", TerminalText(into).c_str());
        return 2;
    }
    if (!discard.empty()) {
        if (list || !into.empty()) {
            std::fprintf(stderr, "talrec recover: --discard goes alone\n");
            return 2;
        }
        return Discard(discard);
    }
    std::vector<Waiting> waiting = OpenWaiting(!list);
    if (waiting.empty()) std::printf(list ? "no recordings wait\n" : "no unsaved recordings\n");
    int status = 0;
    for (Waiting& w : waiting) {
        if (list) {
            std::printf("%s  %.1f s  %s  %s\n", TerminalText(w.info.destination).c_str(),
                        Seconds(w.info), LocalTime(w.info.startTime).c_str(),
                        TerminalText(SpoolName(w.info.file)).c_str());
            continue;
        }
        std::string why;
        const std::string path = Recover(w, into, &why);
        if (path.empty()) {
            std::fprintf(stderr, "talrec recover: %s (the recording stays for another try)\n",
                         TerminalText(why).c_str());
            status = 1;
            continue;
        }
        std::printf("recovered %.1f s into %s\n", Seconds(w.info), TerminalText(path).c_str());
        w.Discard();
    }
    return status;
}

}  // namespace

const Command kRecoverCommand = {
    "recover",
    "[--list] [--into DIR] [--discard NAME]",
    "write the recordings left unsaved",
    "  Writes each recording left unsaved (its recorder crashed or was ended\n"
    "  while it recorded, or its file could not be written) into a WAV file, then\n"
    "  removes its spool: at the file the recording was meant for, or beside it\n"
    "  as \"FILE (recovered).wav\" when that file exists; with --into DIR, into\n"
    "  DIR under the same rule. --list only lists them: destination, length in\n"
    "  seconds, start time, name. --discard NAME removes the one of that name\n"
    "  unwritten. Recordings still being made are left alone.\n"
    "  exit: 0 done (or nothing to do), 1 a recording could not be written or\n"
    "  discarded, 2 wrong arguments\n",
    kOptions,
    0,
    0,
    RunRecover};

}  // namespace talrec::host
