// A window on a thread of its own that collects the WM_WAVE_LEVEL messages a capture posts,
// and a fixture that runs the virtual devices of a test on a manual clock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "audio/WaveIn.h"
#include "platform/ext/messageloop.h"
#include "platform/ext/virtualwave.h"
#include "platform/winuser.h"

namespace wavetest {

class LevelWindow {
  public:
    LevelWindow() {
        std::promise<HWND> created;
        auto ready = created.get_future();
        thread_ = std::thread([this, &created] {
            MessageLoop loop;
            poster_.emplace(loop.GetPoster());
            static const char* cls = [] {
                WNDCLASSA c{};
                c.lpfnWndProc = &LevelWindow::Proc;
                c.lpszClassName = "TalrecLevelWindow";
                RegisterClassA(&c);
                return c.lpszClassName;
            }();
            HWND h =
                CreateWindowExA(0, cls, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, this);
            created.set_value(h);
            loop.Run();
            DestroyWindow(h);
        });
        hwnd_ = ready.get();
    }
    ~LevelWindow() {
        poster_->Quit();
        thread_.join();
    }
    LevelWindow(const LevelWindow&) = delete;
    LevelWindow& operator=(const LevelWindow&) = delete;

    HWND hwnd() const { return hwnd_; }

    // The levels received so far, in order. Posted messages are delivered in the order they
    // were posted, so once a marker posted now has come, so has every level posted before.
    std::vector<WPARAM> Levels() {
        std::unique_lock l(mu_);
        const int marker = ++markersPosted_;
        l.unlock();
        EXPECT_TRUE(PostMessageA(hwnd_, kMarker, 0, 0));
        l.lock();
        EXPECT_TRUE(markerCv_.wait_for(l, std::chrono::seconds(10),
                                       [&] { return markersSeen_ >= marker; }));
        return levels_;
    }
    bool NonZeroLParam() {
        std::lock_guard l(mu_);
        return badLParam_;
    }

  private:
    // Window's thread.
    static LRESULT Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_CREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
            SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
            return 0;
        }
        auto* self = reinterpret_cast<LevelWindow*>(GetWindowLongPtrA(h, GWLP_USERDATA));
        if (self && msg == WM_WAVE_LEVEL) {
            std::lock_guard l(self->mu_);
            self->levels_.push_back(wp);
            self->badLParam_ |= lp != 0;
            return 0;
        }
        if (self && msg == kMarker) {
            {
                std::lock_guard l(self->mu_);
                ++self->markersSeen_;
            }
            self->markerCv_.notify_all();
            return 0;
        }
        return DefWindowProcA(h, msg, wp, lp);
    }

    static constexpr UINT kMarker = WM_WAVE_LEVEL + 1;  // Levels' marker message

    std::thread thread_;
    std::optional<MessageLoop::Poster> poster_;
    HWND hwnd_ = nullptr;
    std::mutex mu_;
    std::condition_variable markerCv_;
    std::vector<WPARAM> levels_;
    bool badLParam_ = false;
    int markersPosted_ = 0;
    int markersSeen_ = 0;
};

// Installs a manual clock for the virtual devices opened during a test.
class ManualClockTest : public ::testing::Test {
  protected:
    void SetUp() override { talrec::wave::SetVirtualClock(clock_); }
    void TearDown() override { talrec::wave::SetVirtualClock(nullptr); }
    // Begin marks where Frames counts from; Frames(n) moves the clock on by n frames at `rate`.
    void Begin() {
        t0_ = clock_->Now();
        frames_ = 0;
    }
    void Frames(std::uint64_t n, DWORD rate = 22050) {
        frames_ += n;
        const auto ns = static_cast<std::int64_t>((frames_ * 1'000'000'000ull + rate - 1) / rate);
        clock_->Advance(t0_ + ns - clock_->Now());
    }
    // Waits until the device threads have done all the clock allows.
    static void Settle() { EXPECT_TRUE(talrec::wave::WaitUntilDevicesIdle()) << "never idle"; }

    std::shared_ptr<talrec::wave::ManualClock> clock_ =
        std::make_shared<talrec::wave::ManualClock>();
    std::int64_t t0_ = 0;
    std::uint64_t frames_ = 0;
};

}  // namespace wavetest
