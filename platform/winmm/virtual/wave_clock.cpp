#include <chrono>
#include <vector>

#include "platform/ext/virtualwave.h"

namespace talrec::wave {
namespace {

using Steady = std::chrono::steady_clock;
constexpr auto kMaxWait = std::chrono::seconds(1);

class RealClock : public WaveClock {
  public:
    explicit RealClock(double speed) : speed_(speed), origin_(Steady::now()) {}

    std::int64_t Now() override {
        const auto real = std::chrono::duration<double, std::nano>(Steady::now() - origin_);
        return static_cast<std::int64_t>(real.count() * speed_);
    }

    void WaitUntil(std::int64_t deadline, ClockWaiter& w) override {
        const auto real = std::chrono::duration_cast<Steady::duration>(
            std::chrono::duration<double, std::nano>(static_cast<double>(deadline) / speed_));
        const auto until = std::min(origin_ + real, Steady::now() + kMaxWait);
        std::unique_lock l(w.mu);
        w.asleep = true;
        w.deadline = deadline;
        w.cv.wait_until(l, until, [&] { return w.woken; });
        w.woken = false;
        w.asleep = false;
    }

  private:
    const double speed_;
    const Steady::time_point origin_;
};

}  // namespace

std::shared_ptr<WaveClock> MakeRealClock(double speed) {
    return std::make_shared<RealClock>(speed);
}

void ManualClock::WaitUntil(std::int64_t deadline, ClockWaiter& w) {
    {
        std::lock_guard l(mu_);
        waiters_.insert(&w);
    }
    {
        std::unique_lock l(w.mu);
        w.asleep = true;
        w.deadline = deadline;
        w.cv.wait_for(l, kMaxWait, [&] { return w.woken || Now() >= deadline; });
        w.woken = false;
        w.asleep = false;
    }
    std::lock_guard l(mu_);
    waiters_.erase(&w);
}

void ManualClock::Advance(std::int64_t ns) {
    now_.fetch_add(ns, std::memory_order_acq_rel);
    std::lock_guard l(mu_);
    for (ClockWaiter* w : waiters_) {
        { std::lock_guard wl(w->mu); }  // a waiter between its check and its sleep sees it
        w->cv.notify_all();
    }
}

}  // namespace talrec::wave
