// One command at a time from callers to a device thread, and its answer back: the caller posts
// the command and waits until the device thread has carried it out. Used by the wave stream
// and the media control device, whose device threads own everything they touch.
//
// The slot is guarded by the owner's mutex, so that the device thread can wait for a command
// and for its other work under one lock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

namespace talrec::winmm {

template <class Command, class Result>
class DeviceCommands {
  public:
    DeviceCommands() = default;
    DeviceCommands(const DeviceCommands&) = delete;
    DeviceCommands& operator=(const DeviceCommands&) = delete;

    // Caller's thread, `lock` holding the owner's mutex: waits until no other caller's command
    // is in the slot, then asks accept() whether the device still takes commands (it may have
    // closed meanwhile); if so posts the command, calls wake() so that the device thread sees
    // it, and waits until the device thread has answered. Both run with the mutex held, which
    // is released while waiting and held again on return. Nothing when accept() said no.
    template <class Accept, class Wake>
    std::optional<Result> Post(std::unique_lock<std::mutex>& lock, Command command, Accept&& accept,
                               Wake&& wake) {
        answered_.wait(lock, [&] { return !busy_; });
        if (!accept()) return std::nullopt;
        busy_ = true;
        command_ = std::move(command);
        const std::uint64_t ticket = ++posted_;
        wake();
        answered_.wait(lock, [&] { return done_ == ticket; });
        std::optional<Result> answer = std::move(answer_);
        answer_.reset();
        busy_ = false;
        answered_.notify_all();  // the next caller may post
        return answer;
    }

    // Device thread, owner's mutex held: whether a command waits to be taken.
    bool Pending() const { return command_.has_value(); }

    // Device thread, owner's mutex held: takes the command waiting. Answer it before taking the
    // next (the caller waits for it).
    Command Take() {
        Command command = std::move(*command_);
        command_.reset();
        return command;
    }

    // Device thread, owner's mutex held: the answer to the command taken last.
    void Answer(Result answer) {
        answer_ = std::move(answer);
        done_ = posted_;
        answered_.notify_all();
    }

  private:
    std::condition_variable answered_;  // callers: an answer came, or the slot is free
    std::optional<Command> command_;
    std::optional<Result> answer_;
    bool busy_ = false;  // a caller has posted and not yet read its answer
    std::uint64_t posted_ = 0;
    std::uint64_t done_ = 0;
};

}  // namespace talrec::winmm
