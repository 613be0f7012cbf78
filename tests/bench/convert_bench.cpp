// Conversion speed: 10-minute WAV files at 22050 Hz and 44100 Hz stereo converted with the
// conversion (and its audio-writer component), against ffmpeg's own WMA 2 encoder on the same
// file in the same run. Prints the best wall-clock and processor times of three runs and their
// ratios (processor time is the steadier on a loaded machine); asserts nothing.
//   convert_bench [SECONDS]   (default 600)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "convert/WmaConverter.h"
#include "support/ProgramFolder.h"

namespace {

double Seconds(const std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Processor time (user and system) of this process or of its waited-for children.
double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
    double wall = -1;  // best of the runs
    double cpu = -1;   // best of the runs
};

// Runs f several times; who says whose processor time f spends (RUSAGE_SELF or _CHILDREN).
template <typename F>
Timing Best(int runs, int who, F&& f) {
    Timing best{1e300, 1e300};
    for (int i = 0; i < runs; ++i) {
        const double cpu = CpuSeconds(who);
        const auto start = std::chrono::steady_clock::now();
        if (!f()) return Timing{};
        best.wall = std::min(best.wall, Seconds(std::chrono::steady_clock::now() - start));
        best.cpu = std::min(best.cpu, CpuSeconds(who) - cpu);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    // The audio-writer component of this build: build/lib, beside build/bin.
    const std::string components = talrec::test::ProgramFolder() + "/../lib";
    setenv("TALREC_SYSTEM_DIR", components.c_str(), 0);
    std::string dir = (std::filesystem::temp_directory_path() / "talrec-bench-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) return 1;
    int status = 0;
    std::printf("%-22s %9s %9s %6s   %9s %9s %6s\n", "source", "talrec s", "ffmpeg s", "ratio",
                "talrec cpu", "ffmpeg cpu", "ratio");
    for (int rate : {22050, 44100}) {
        const std::string wav = dir + "/in" + std::to_string(rate) + ".wav";
        const std::string ours = dir + "/ours.wma";
        const std::string theirs = dir + "/ffmpeg.wma";
        // A sweep on one channel and pink noise on the other: no stretch of digital silence.
        const std::string make = "sox -n -r " + std::to_string(rate) + " -c 2 -b 16 " + wav +
                                 " synth " + std::to_string(seconds) +
                                 " sine 200-4000 pinknoise vol 0.4";
        if (std::system(make.c_str()) != 0) {
            std::fprintf(stderr, "cannot run: %s\n", make.c_str());
            status = 1;
            break;
        }
        const Timing talrec = Best(
            3, RUSAGE_SELF, [&] { return SUCCEEDED(ConvertWavFile(wav.c_str(), ours.c_str())); });
        const std::string ffmpeg =
            "ffmpeg -v error -y -i " + wav + " -c:a wmav2 -b:a 128k " + theirs;
        const Timing reference =
            Best(3, RUSAGE_CHILDREN, [&] { return std::system(ffmpeg.c_str()) == 0; });
        char name[32];
        std::snprintf(name, sizeof name, "%d s, %d Hz stereo", seconds, rate);
        if (talrec.wall < 0 || reference.wall < 0) {
            std::printf("%-22s failed\n", name);
            status = 1;
        } else {
            std::printf("%-22s %9.3f %9.3f %6.2f   %9.3f %9.3f %6.2f\n", name, talrec.wall,
                        reference.wall, talrec.wall / reference.wall, talrec.cpu, reference.cpu,
                        talrec.cpu / reference.cpu);
        }
        std::filesystem::remove(wav);
    }
    std::filesystem::remove_all(dir);
    return status;
}
