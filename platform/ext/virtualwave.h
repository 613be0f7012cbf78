// The virtual wave device's clock, and the hooks through which tests drive the device.
#pragma once

#ifdef _WIN32
#error "a Linux extension with no counterpart in the Windows SDK"
#else
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>

namespace talrec::wave {

// What one device waits on; Wake sets `woken` under `mu` and notifies `cv`. While WaitUntil
// blocks, `asleep` is true and `deadline` its deadline (both under `mu`), so that another
// thread can tell whether the device has anything to do.
struct ClockWaiter {
    std::mutex mu;
    std::condition_variable cv;
    bool woken = false;
    bool asleep = false;
    std::int64_t deadline = 0;
};

// Virtual time in nanoseconds. Thread-safe.
class WaveClock {
  public:
    virtual ~WaveClock() = default;
    virtual std::int64_t Now() = 0;
    // Blocks until Now() >= deadline, until w.woken (which it clears), or for at most about a
    // second of real time. Keeps w.asleep and w.deadline while it blocks.
    virtual void WaitUntil(std::int64_t deadline, ClockWaiter& w) = 0;
};

// Real time (steady clock) run `speed` times faster.
std::shared_ptr<WaveClock> MakeRealClock(double speed);

// Time that moves only when Advance is called: tests step the device exactly.
class ManualClock : public WaveClock {
  public:
    std::int64_t Now() override { return now_.load(std::memory_order_acquire); }
    void WaitUntil(std::int64_t deadline, ClockWaiter& w) override;
    void Advance(std::int64_t ns);

  private:
    std::atomic<std::int64_t> now_{0};
    std::mutex mu_;  // guards waiters_
    std::set<ClockWaiter*> waiters_;
};

// Test hooks. The virtual devices opened after SetVirtualClock run on that clock (null: the
// real clock at TALREC_VIRTUAL_SPEED again). LoseVirtualDevices makes every open virtual
// device a device that has gone away at this moment: what was due until now still moves, then
// it hands back its buffers and refuses more.
void SetVirtualClock(std::shared_ptr<WaveClock> clock);
void LoseVirtualDevices();

// Waits until every open wave device has done all it can until its clock moves on: its device
// thread sleeps, with no frame due before its next deadline, no command or buffer to act on
// and no callback running. False after `limit`. Only virtual devices get there; any other
// open device makes it wait out the limit.
bool WaitUntilDevicesIdle(std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace talrec::wave

#endif  // _WIN32
