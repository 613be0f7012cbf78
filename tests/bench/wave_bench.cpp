// CPU cost of capture and playback: user + system seconds per second of sound.
//   wave_bench [SECONDS [ALSA_SECONDS]]    (defaults 5 and 600)
// 1. The virtual device at real speed (speed 1), through CWaveIn and CWaveOut.
// 2. The ALSA device through plug-in PCMs defined here (a file plug-in reading a raw file for
//    capture, one writing /dev/null for playback, both over the null PCM), through CWaveIn and
//    CWaveOut, against arecord and aplay on the same PCMs in the same run. The null PCM is not
//    paced by a clock: these runs go as fast as the machine allows, so they measure the work
//    per second of sound, not the idle cost of waiting for a real device.
// Capture runs as a recording does, into a recording spool (in a scratch folder, beside
// arecord's WAV file), and in memory (no destination), beside arecord writing /dev/null; each
// ALSA figure is the least of three runs, and the ratios compare those.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/WaveIn.h"
#include "audio/WaveOut.h"

namespace {

constexpr DWORD kRate = 22050;
constexpr DWORD kBytesPerSecond = kRate * 4;

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

double SelfCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

void Report(const char* what, double cpu, double soundSeconds, double wallSeconds) {
    std::printf("%-44s %8.2f CPU us per s of sound  (%.1f s of sound in %.2f s wall)\n", what,
                1e6 * cpu / soundSeconds, soundSeconds, wallSeconds);
}

// Runs a command and returns its children's user + system seconds, or -1 when it failed.
double ChildCpu(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!std::freopen("/dev/null", "w", stderr)) _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage u{};
    if (wait4(pid, &status, 0, &u) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

CWave Sound(double seconds) {
    CWave w;
    w.SetFormat(2, kRate, 16);
    const auto frames = static_cast<DWORD>(seconds * kRate);
    BYTE* block = new BYTE[static_cast<std::size_t>(frames) * 4];
    for (DWORD i = 0; i < frames * 2; ++i) {
        const auto s = static_cast<std::uint16_t>(i * 13);
        block[2 * i] = static_cast<BYTE>(s);
        block[2 * i + 1] = static_cast<BYTE>(s >> 8);
    }
    w.SetBuffer(block, frames, false);
    return w;
}

// Captures `seconds` of sound with CWaveIn, into a spool for `destination` when one is
// given; returns the CPU it cost. A paced device is left alone for the time; an unpaced one is
// watched until it has delivered the sound.
double Capture(double seconds, bool paced, double* wall, const std::string& destination = {}) {
    CWaveIn in;
    in.SetFormat(Sound(0).GetFormat());
    if (!in.Open()) {
        std::printf("capture: %s\n", in.GetErrorText().c_str());
        return -1;
    }
    const double cpu0 = SelfCpu();
    const auto t0 = std::chrono::steady_clock::now();
    in.Record(4096, destination);
    const auto target = static_cast<int>(seconds * kRate);
    if (paced) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    while (in.GetNumSamples() < target) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    in.Close();
    *wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return SelfCpu() - cpu0;
}

// Plays `seconds` of sound with CWaveOut; returns the CPU it cost.
double Play(double seconds, bool paced, double* wall) {
    CWaveOut out(Sound(seconds), CWaveDevice(WAVE_MAPPER));
    if (!out.Open()) {
        std::printf("playback: %s\n", out.GetErrorText().c_str());
        return -1;
    }
    const double cpu0 = SelfCpu();
    const auto t0 = std::chrono::steady_clock::now();
    out.Play();
    const auto poll = std::chrono::milliseconds(paced ? 50 : 1);
    while (out.IsPlaying()) std::this_thread::sleep_for(poll);
    out.Close();
    *wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return SelfCpu() - cpu0;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5;
    const double alsaSeconds = argc > 2 ? std::atof(argv[2]) : 600;
    double wall = 0;

    setenv("TALREC_WAVE_DEVICE", "virtual", 1);
    setenv("TALREC_VIRTUAL_SPEED", "1", 1);
    setenv("TALREC_VIRTUAL_SOURCE", "tone:440:0.3", 1);
    setenv("TALREC_VIRTUAL_SINK", "discard", 1);
    const auto dir =
        std::filesystem::temp_directory_path() / ("talrec-wave-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    setenv("XDG_STATE_HOME", dir.c_str(), 1);
    const std::string take = (dir / "take.wav").string();

    double cpu = Capture(seconds, true, &wall);
    if (cpu >= 0) Report("virtual capture of a tone, speed 1 (CWaveIn)", cpu, seconds, wall);
    cpu = Capture(seconds, true, &wall, take);
    if (cpu >= 0) Report("the same into a spool", cpu, seconds, wall);
    setenv("TALREC_VIRTUAL_SOURCE", "silence", 1);  // without the tone's sine per sample
    cpu = Capture(seconds, true, &wall);
    if (cpu >= 0) Report("virtual capture of silence, speed 1", cpu, seconds, wall);
    cpu = Play(seconds, true, &wall);
    if (cpu >= 0) Report("virtual playback, speed 1 (CWaveOut)", cpu, seconds, wall);

    const std::string infile = (dir / "in.raw").string();
    {
        const CWave w = Sound(alsaSeconds);
        std::ofstream(infile, std::ios::binary)
            .write(reinterpret_cast<const char*>(w.GetBuffer()), w.GetBufferLength());
    }
    const std::string conf = (dir / "asound.conf").string();
    std::ofstream(conf) << "pcm.bench_cap { type file slave.pcm { type null } file \"/dev/null\" "
                           "infile \""
                        << infile
                        << "\" format \"raw\" }\n"
                           "pcm.bench_play { type file slave.pcm { type null } file "
                           "\"/dev/null\" format \"raw\" }\n";
    std::string path = conf;
    if (std::filesystem::exists("/usr/share/alsa/alsa.conf"))
        path = "/usr/share/alsa/alsa.conf:" + conf;
    setenv("ALSA_CONFIG_PATH", path.c_str(), 1);

    setenv("TALREC_WAVE_DEVICE", "alsa:bench_cap", 1);
    const std::string secs = std::to_string(static_cast<int>(alsaSeconds));
    const std::vector<std::string> arecord = {"arecord", "-q", "-D", "bench_cap", "-f", "S16_LE",
                                              "-c",      "2",  "-r", "22050",     "-d", secs};
    // Each ALSA run is made three times in a row, and the least CPU of the
    // three counts: the machine's noise only ever adds.
    constexpr int kRuns = 3;
    auto least = [](auto run) {
        double best = -1;
        for (int i = 0; i < kRuns; ++i) {
            const double c = run();
            if (c < 0) return -1.0;
            if (best < 0 || c < best) best = c;
        }
        return best;
    };
    auto arecordCpu = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = arecord;
        args.insert(args.end(), extra.begin(), extra.end());
        return least([&] { return ChildCpu(args); });
    };
    auto reportArecord = [&](const char* what, double c) {
        if (c >= 0) {
            Report(what, c, alsaSeconds, 0);
        } else {
            std::printf("%s: arecord could not run\n", what);
        }
    };
    auto ratio = [](const char* what, double ours, double theirs) {
        if (ours > 0 && theirs > 0) std::printf("%-44s %8.2fx\n", what, ours / theirs);
    };
    const double spooled = least([&] { return Capture(alsaSeconds, false, &wall, take); });
    if (spooled >= 0) Report("ALSA capture into a spool (CWaveIn)", spooled, alsaSeconds, wall);
    const double arecordWav = arecordCpu({"-t", "wav", (dir / "ar.wav").string()});
    reportArecord("arecord into a WAV file, same folder", arecordWav);
    ratio("  capture into a spool / arecord into a WAV", spooled, arecordWav);
    const double inMemory = least([&] { return Capture(alsaSeconds, false, &wall); });
    if (inMemory >= 0) Report("ALSA capture in memory (CWaveIn)", inMemory, alsaSeconds, wall);
    const double arecordNull = arecordCpu({"-t", "raw", "/dev/null"});
    reportArecord("arecord to /dev/null", arecordNull);
    ratio("  capture in memory / arecord to /dev/null", inMemory, arecordNull);
    reportArecord("arecord to /dev/null, 1024-frame periods",
                  arecordCpu({"--period-size=1024", "-t", "raw", "/dev/null"}));

    setenv("TALREC_WAVE_DEVICE", "alsa:bench_play", 1);
    cpu = Play(alsaSeconds, false, &wall);
    if (cpu >= 0) Report("ALSA playback, file/null PCM (CWaveOut)", cpu, alsaSeconds, wall);
    cpu = ChildCpu({"aplay", "-q", "-D", "bench_play", "-f", "S16_LE", "-c", "2", "-r", "22050",
                    "-t", "raw", infile});
    if (cpu >= 0) {
        Report("aplay, same PCM", cpu, alsaSeconds, 0);
    } else {
        std::printf("aplay could not run\n");
    }
    std::filesystem::remove_all(dir);
    return 0;
}
