// talrec record FILE [--seconds N]: records from the sound input into a WAV file with a live
// level meter. A take that holds no sound at all (the input did not open, or gave nothing
// before the stop) is written as it is but counts as a failure: exit 1.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/Commands.h"
#include "host/cli/CliTakes.h"
#include "host/common/TerminalText.h"
#include "platform/ext/wavformat.h"
#include "platform/fileapi.h"
#include "platform/handleapi.h"

namespace talrec::host {
namespace {

constexpr Option kOptions[] = {{"--seconds", "N"}};

// Why a WAV file cannot be written at `path`, or empty when it can: checked before recording,
// so that a take is not made for minutes into a file that will not take it. A file is opened
// for writing and left as it is; where there is none, one is made and removed again.
std::string WhyNotWritable(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return "it is a folder";
    }
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    exists ? OPEN_EXISTING : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
            case ERROR_ACCESS_DENIED:
                return exists ? "the file is read-only or not a plain file"
                              : "its folder does not let files be made in it";
            case ERROR_SHARING_VIOLATION:
                return "another program holds the file";
            default:
                return "error " + std::to_string(GetLastError());
        }
    }
    CloseHandle(file);
    if (!exists) DeleteFileA(path.c_str());
    return {};
}

int RunRecord(const Arguments& arguments) {
    InstallInterruptHandler();
    const std::string& file = arguments.Positional()[0];
    double seconds = 0;
    if (auto text = arguments.Value("--seconds")) {
        char* end = nullptr;
        seconds = std::strtod(text->c_str(), &end);
        if (end == text->c_str() || *end != '\0' || !(seconds > 0)) {
            std::fprintf(stderr, "talrec record: --seconds takes a positive number\n");
            return kExitUsage;
        }
    }
    NoteWaitingRecordings("record");
    std::string path = GrantedPath(file, "record");
    if (path.empty()) return kExitFailed;
    if (const std::string why = WhyNotWritable(path); !why.empty()) {
        std::fprintf(stderr, "talrec record: cannot record into %s: %s\n",
                     TerminalText(path).c_str(), why.c_str());
        return kExitFailed;
    }
    std::string error;
    auto session = CliSession::Open(error);
    if (!session) {
        std::fprintf(stderr, "talrec record: %s\n", error.c_str());
        return kExitNoControl;
    }
    MeterDisplay display(stdout);
    TakeResult take = RecordTake(*session, path, seconds, display, "record");
    if (take.exitCode != kExitOk) return take.exitCode;
    std::error_code ec;
    const std::uintmax_t bytes = std::filesystem::file_size(path, ec);
    if (ec || bytes <= kWavHeaderBytes) {
        // The control reports no failure of the input to a script; the platform's debug output
        // (shown above) says what happened, and the file holds the header alone.
        std::fprintf(stderr, "talrec record: nothing was recorded into %s%s\n",
                     TerminalText(path).c_str(),
                     session->DebugLines() > 0 ? " (the input failed, see above)" : "");
        return kExitFailed;
    }
    std::printf("wrote %s: %s recorded, %ju bytes%s\n", TerminalText(path).c_str(),
                FormatClock(take.seconds).c_str(), bytes,
                take.interrupted ? " (stopped by a signal)" : "");
    return kExitOk;
}

}  // namespace

const Command kRecordCommand = {
    "record",
    "FILE [--seconds N]",
    "record into a WAV file with a level meter",
    "  Records the sound input into the WAV file FILE (16-bit stereo 22050 Hz),\n"
    "  showing the input level and the elapsed time. Space pauses and resumes,\n"
    "  Enter stops; Ctrl-C and SIGTERM stop too, and what was recorded is written.\n"
    "  Without --seconds it records until stopped. A FILE that cannot be written\n"
    "  (a folder, a read-only file, a folder without write access) is refused\n"
    "  before recording starts.\n"
    "  exit: 0 written, 1 recording failed or nothing recorded, 2 wrong arguments,\n"
    "  3 no control\n",
    kOptions,
    1,
    1,
    RunRecord};

}  // namespace talrec::host
