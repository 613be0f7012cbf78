// ByteRing: a fixed ring of bytes from one producer thread to one consumer thread, without
// locks and without system calls.
//
// Contract. Push runs on the producer thread only; Peek and Pop on the consumer thread only;
// Size, Free and capacity on either. "Only" means one thread for the ring's whole life: in
// builds with assertions each side remembers the first thread that used it and asserts that
// no other does. The bytes Peek shows stay in place until the consumer pops them; the
// producer never writes over bytes not yet popped.
//
// Ordering. Push publishes its bytes before the new size can be seen, and Pop releases the
// space only after the consumer is done with it. Push's publication and Size are also
// sequentially consistent: a consumer that stores a flag and then reads Size, and a producer
// that pushes and then reads that flag, cannot both miss each other (the spool's writer parks
// on such a flag).
#pragma once

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <thread>

namespace talrec::platform::spool {

class ByteRing {
  public:
    explicit ByteRing(std::size_t capacity)
        : capacity_(capacity), bytes_(std::make_unique<std::byte[]>(capacity)) {}
    ByteRing(const ByteRing&) = delete;
    ByteRing& operator=(const ByteRing&) = delete;

    std::size_t capacity() const { return capacity_; }

    // Either side: the bytes held now (the other side may change it at once).
    std::size_t Size() const { return static_cast<std::size_t>(head_.load() - tail_.load()); }
    std::size_t Free() const { return capacity_ - Size(); }

    // Producer: copies all `size` bytes in, or nothing when the ring has less room.
    bool Push(const void* data, std::size_t size) {
        CheckThread(producer_);
        const std::uint64_t head = head_.load(std::memory_order_relaxed);
        const std::uint64_t used = head - tail_.load(std::memory_order_acquire);
        if (capacity_ - used < size) return false;
        const auto* in = static_cast<const std::byte*>(data);
        const std::size_t at = static_cast<std::size_t>(head % capacity_);
        const std::size_t first = std::min(size, capacity_ - at);
        if (first > 0) std::memcpy(bytes_.get() + at, in, first);
        if (size > first) std::memcpy(bytes_.get(), in + first, size - first);
        head_.store(head + size);
        return true;
    }

    // Consumer: the bytes held, oldest first, in at most two pieces (the second is empty
    // unless they wrap around the end of the ring).
    struct Pieces {
        std::span<const std::byte> first, second;
        std::size_t size() const { return first.size() + second.size(); }
    };
    Pieces Peek() const {
        CheckThread(consumer_);
        const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t size = static_cast<std::size_t>(head_.load() - tail);
        const std::size_t at = static_cast<std::size_t>(tail % capacity_);
        const std::size_t first = std::min(size, capacity_ - at);
        return {{bytes_.get() + at, first}, {bytes_.get(), size - first}};
    }

    // Consumer: gives the oldest `size` bytes' room back to the producer (at most Peek's size).
    void Pop(std::size_t size) {
        CheckThread(consumer_);
        const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        assert(size <= head_.load(std::memory_order_acquire) - tail);
        tail_.store(tail + size, std::memory_order_release);
    }

  private:
    using Owner = std::atomic<std::thread::id>;
#ifdef NDEBUG
    static void CheckThread(Owner&) {}
#else
    static void CheckThread(Owner& owner) {
        std::thread::id expected{};
        const std::thread::id me = std::this_thread::get_id();
        if (!owner.compare_exchange_strong(expected, me)) {
            assert(expected == me && "ByteRing: a side used by a second thread");
        }
    }
#endif

    const std::size_t capacity_;
    const std::unique_ptr<std::byte[]> bytes_;
    // Counts of bytes ever pushed (head) and popped (tail); their positions are taken modulo
    // the capacity. head is written by the producer alone, tail by the consumer alone.
    std::atomic<std::uint64_t> head_{0};
    std::atomic<std::uint64_t> tail_{0};
    mutable Owner producer_;
    mutable Owner consumer_;
};

}  // namespace talrec::platform::spool
