// CPU cost of playing a file through the media control service, against ffmpeg decoding the
// same file to nothing, in the same run. Plays one minute of WMA and one of MP3 at real speed
// through the wave output (the virtual device with a discarding sink unless
// TALREC_WAVE_DEVICE / TALREC_VIRTUAL_SINK say otherwise). Prints the figures.
//
//   mci_bench [SECONDS]     (default 60)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/mci.h"
#include "support/mci_media.h"

namespace {

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

MCIDEVICEID Open(const std::string& path) {
    MCI_OPEN_PARMS p{};
    p.lpstrDeviceType = "MPEGVideo";
    p.lpstrElementName = path.c_str();
    const MCIERROR rc = mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT,
                                        reinterpret_cast<DWORD_PTR>(&p));
    if (rc != 0) {
        std::fprintf(stderr, "cannot open %s: error %u\n", path.c_str(), rc);
        std::exit(1);
    }
    return p.wDeviceID;
}

DWORD Status(MCIDEVICEID id, DWORD item) {
    MCI_STATUS_PARMS p{};
    p.dwItem = item;
    mciSendCommandA(id, MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&p));
    return static_cast<DWORD>(p.dwReturn);
}

void Measure(const char* label, const std::string& path) {
    const MCIDEVICEID id = Open(path);
    const double sound = Status(id, MCI_STATUS_LENGTH) / 1000.0;
    const double before = CpuSeconds(RUSAGE_SELF);
    const auto wallStart = std::chrono::steady_clock::now();
    MCI_PLAY_PARMS play{};
    if (const MCIERROR rc =
            mciSendCommandA(id, MCI_PLAY, MCI_WAIT, reinterpret_cast<DWORD_PTR>(&play))) {
        char text[256];
        mciGetErrorStringA(rc, text, sizeof text);
        std::fprintf(stderr, "cannot play %s: %s\n", path.c_str(), text);
        std::exit(1);
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double player = CpuSeconds(RUSAGE_SELF) - before;
    mciSendCommandA(id, MCI_CLOSE, 0, 0);

    const double childBefore = CpuSeconds(RUSAGE_CHILDREN);
    const std::string command = "ffmpeg -nostdin -v error -i '" + path + "' -f null -";
    if (!mcitest::Run(command)) std::fprintf(stderr, "ffmpeg failed on %s\n", path.c_str());
    const double ffmpeg = CpuSeconds(RUSAGE_CHILDREN) - childBefore;

    std::printf("%-4s %.1f s of sound, played in %.2f s\n", label, sound, wall);
    std::printf("     player  %.3f s CPU = %.5f CPU s per s of sound\n", player, player / sound);
    std::printf("     ffmpeg  %.3f s CPU = %.5f CPU s per s of sound (decode to null)\n", ffmpeg,
                ffmpeg / sound);
    std::printf("     ratio   %.2f\n", ffmpeg > 0 ? player / ffmpeg : 0.0);
}

// How long after the sound's end the mode answers stopped, polled every 0.5 ms.
void MeasureEnd(const std::string& path) {
    const MCIDEVICEID id = Open(path);
    const DWORD length = Status(id, MCI_STATUS_LENGTH);
    MCI_PLAY_PARMS play{};
    const auto start = std::chrono::steady_clock::now();
    mciSendCommandA(id, MCI_PLAY, 0, reinterpret_cast<DWORD_PTR>(&play));
    while (Status(id, MCI_STATUS_MODE) == MCI_MODE_PLAY) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const double took =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    mciSendCommandA(id, MCI_CLOSE, 0, 0);
    std::printf("end  %u ms of sound answered stopped after %.1f ms (%.1f ms past its length)\n",
                length, took, took - length);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    ::setenv("TALREC_WAVE_DEVICE", "virtual", 0);
    ::setenv("TALREC_VIRTUAL_SINK", "discard", 0);
    ::setenv("TALREC_VIRTUAL_SPEED", "1", 1);

    mcitest::ScratchDir dir;
    const std::string source =
        "-f lavfi -i 'anoisesrc=d=" + std::to_string(seconds) +
        ":c=pink:a=0.2:r=44100' -f lavfi -i 'sine=f=440:d=" + std::to_string(seconds) +
        ":r=44100' -filter_complex amerge=inputs=2 ";
    const std::string wma = dir.Path("bench.wma");
    const std::string mp3 = dir.Path("bench.mp3");
    const std::string wav = dir.Path("end.wav");
    if (!mcitest::Run("ffmpeg -nostdin -v error -y " + source + "-c:a wmav2 -b:a 128k '" + wma +
                      "'") ||
        !mcitest::Run("ffmpeg -nostdin -v error -y " + source + "-c:a libmp3lame -b:a 128k '" +
                      mp3 + "'") ||
        !mcitest::Run("ffmpeg -nostdin -v error -y -f lavfi -i 'sine=f=440:d=2:r=22050' '" + wav +
                      "'")) {
        std::fprintf(stderr, "cannot make the test files (ffmpeg)\n");
        return 1;
    }
    std::printf("wave device: %s, sink: %s, speed 1\n", std::getenv("TALREC_WAVE_DEVICE"),
                std::getenv("TALREC_VIRTUAL_SINK"));
    Measure("WMA", wma);
    Measure("MP3", mp3);
    for (int i = 0; i < 3; ++i) MeasureEnd(wav);
    return 0;
}
