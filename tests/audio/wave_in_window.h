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
#include "platform/virtualwave.h"
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

    // The levels received so far, in order; waits up to `settle` for messages still in the
    // queue to arrive (posted messages are delivered asynchronously).
    std::vector<WPARAM> Levels(std::chrono::milliseconds settle = std::chrono::milliseconds(200)) {
        std::this_thread::sleep_for(settle);
        std::lock_guard l(mu_);
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
        return DefWindowProcA(h, msg, wp, lp);
    }

    std::thread thread_;
    std::optional<MessageLoop::Poster> poster_;
    HWND hwnd_ = nullptr;
    std::mutex mu_;
    std::vector<WPARAM> levels_;
    bool badLParam_ = false;
};

// Installs a manual clock for the virtual devices opened during a test.
class ManualClockTest : public ::testing::Test {
  protected:
    void SetUp() override { talrec::wave::SetVirtualClock(clock_); }
    void TearDown() override { talrec::wave::SetVirtualClock(nullptr); }
    // Moves the clock on by `frames` frames at `rate`, counted from the last Begin.
    void Begin() {
        t0_ = clock_->Now();
        frames_ = 0;
    }
    void Frames(std::uint64_t n, DWORD rate = 22050) {
        frames_ += n;
        const auto ns = static_cast<std::int64_t>((frames_ * 1'000'000'000ull + rate - 1) / rate);
        clock_->Advance(t0_ + ns - clock_->Now());
    }
    static void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

    std::shared_ptr<talrec::wave::ManualClock> clock_ =
        std::make_shared<talrec::wave::ManualClock>();
    std::int64_t t0_ = 0;
    std::uint64_t frames_ = 0;
};

}  // namespace wavetest
