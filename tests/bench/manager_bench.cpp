// Cost of a long recording: records MINUTES (default 60) of 16-bit stereo 22050 Hz sound
// through the recorder manager on the virtual device run SPEED (default 600) times faster than
// real time, stops, and prints the peak resident memory over the whole recording and stop,
// the time the stop took and the time to write the file alone, beside `cp` of the written
// file in the same run. The recording spool goes to the usual folder ($XDG_STATE_HOME).
//
//   manager_bench [MINUTES [SPEED [FOLDER]]]     (FOLDER default: the temporary folder)
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "audio/WaveManager.h"
#include "platform/ext/messageloop.h"
#include "platform/winuser.h"

namespace {

// A window on a thread of its own that counts the level messages of the capture: one for
// each buffer handed back, so the count tells how much sound has been captured.
class BufferCounter {
  public:
    BufferCounter() {
        std::promise<HWND> created;
        auto ready = created.get_future();
        thread_ = std::thread([this, &created] {
            MessageLoop loop;
            poster_.emplace(loop.GetPoster());
            WNDCLASSA c{};
            c.lpfnWndProc = &BufferCounter::Proc;
            c.lpszClassName = "TalrecBenchCounter";
            RegisterClassA(&c);
            HWND h = CreateWindowExA(0, c.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     nullptr, nullptr);
            created.set_value(h);
            loop.Run();
            DestroyWindow(h);
        });
        hwnd_ = ready.get();
    }
    ~BufferCounter() {
        poster_->Quit();
        thread_.join();
    }
    HWND hwnd() const { return hwnd_; }
    static long Count() { return count_.load(); }

  private:
    // The window's thread.
    static LRESULT Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_WAVE_LEVEL) {
            count_.fetch_add(1);
            return 0;
        }
        return DefWindowProcA(h, msg, wp, lp);
    }

    static inline std::atomic<long> count_{0};
    std::thread thread_;
    std::optional<MessageLoop::Poster> poster_;
    HWND hwnd_ = nullptr;
};

using Clock = std::chrono::steady_clock;

// A field of /proc/self/status in bytes (VmRSS: resident now, VmHWM: the peak so far).
double StatusBytes(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string name;
    while (in >> name) {
        if (name == std::string(field) + ":") {
            double kb = 0;
            in >> kb;
            return kb * 1024;
        }
        in.ignore(1 << 16, '\n');
    }
    return 0;
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 60;
    const std::string speed = argc > 2 ? argv[2] : "600";
    const std::filesystem::path folder =
        argc > 3 ? std::filesystem::path(argv[3]) : std::filesystem::temp_directory_path();
    setenv("TALREC_WAVE_DEVICE", "virtual", 0);
    setenv("TALREC_VIRTUAL_SOURCE", "tone:440:0.3", 0);
    setenv("TALREC_VIRTUAL_SPEED", speed.c_str(), 1);
    const std::string pid = std::to_string(getpid());
    const std::string recording = (folder / ("manager-bench-" + pid + ".wav")).string();
    const std::string rewritten = (folder / ("manager-bench-" + pid + "-save.wav")).string();
    const std::string copied = (folder / ("manager-bench-" + pid + "-cp.wav")).string();

    const double baseline = StatusBytes("VmRSS");
    BufferCounter counter;
    CWaveManager manager;
    manager.SetWindow(counter.hwnd());
    const auto recordStart = Clock::now();
    if (!manager.StartRecording(recording)) {
        std::fprintf(stderr, "the recording does not start\n");
        return 1;
    }
    // Until the buffers handed back (1024 frames each) hold the whole length.
    const long buffers = static_cast<long>(minutes * 60 * 22050 / 1024) + 1;
    while (BufferCounter::Count() < buffers) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double recordSeconds = Seconds(recordStart);
    const double recordingRss = StatusBytes("VmRSS");
    const double hwmBefore = StatusBytes("VmHWM");

    const auto stopStart = Clock::now();
    manager.StopRecording();
    const double stopSeconds = Seconds(stopStart);
    const double hwmAfter = StatusBytes("VmHWM");

    const double size = static_cast<double>(std::filesystem::file_size(recording));
    const double sound = manager.GetFormat().GetNumSamples() / 22050.0;

    // The write alone: the same sound saved once more (from a copy, made after the peak was
    // read, as the manager hands out its sound read-only).
    CWave again = manager.GetFormat();
    const auto saveStart = Clock::now();
    again.Save(rewritten.c_str());
    const double saveSeconds = Seconds(saveStart);

    const auto cpStart = Clock::now();
    const int cp = std::system(("cp '" + recording + "' '" + copied + "'").c_str());
    const double cpSeconds = Seconds(cpStart);

    std::printf("recorded %.1f min of sound in %.1f s (speed %s), file %.1f MB\n", sound / 60,
                recordSeconds, speed.c_str(), size / 1e6);
    std::printf("memory while recording: %.2f x the file (resident %.1f MB over the start)\n",
                (recordingRss - baseline) / size, (recordingRss - baseline) / 1e6);
    std::printf("peak memory before the stop: %.2f x the file\n", (hwmBefore - baseline) / size);
    std::printf("peak memory during the stop: %.2f x the file (%.1f MB over the start)\n",
                (hwmAfter - baseline) / size, (hwmAfter - baseline) / 1e6);
    std::printf("peak resident memory over the recording and the stop: %.1f MB\n", hwmAfter / 1e6);
    std::printf("StopRecording: %.3f s (close, hand-over and write)\n", stopSeconds);
    std::printf("CWave::Save of the same sound: %.3f s\n", saveSeconds);
    std::printf("cp of the file: %.3f s%s\n", cpSeconds, cp == 0 ? "" : " (cp failed)");
    std::printf("StopRecording / cp: %.2f\n", stopSeconds / cpSeconds);
    std::filesystem::remove(recording);
    std::filesystem::remove(rewritten);
    std::filesystem::remove(copied);
    return 0;
}
