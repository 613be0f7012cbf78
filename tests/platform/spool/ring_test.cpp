// The spool's byte ring: whatever the sizes of the pushes and pops (exact fits, wraps, pushes
// larger than the ring), the consumer sees every byte once and in order, and a push is refused
// only when it does not fit; a second thread on one side is caught in builds with assertions.
#include "platform/spool/ring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <thread>
#include <vector>

using talrec::platform::spool::ByteRing;

namespace {

// Two threads, random capacities and random push and pop sizes (a push may be larger than the
// ring, and is then refused): the consumer reads the counting sequence the producer wrote.
TEST(ByteRing, EveryByteArrivesOnceInOrder) {
    std::mt19937 seeds(20261209);
    for (int round = 0; round < 40; ++round) {
        const unsigned seed = seeds();
        std::mt19937 rng(seed);
        const std::size_t capacity = 1 + rng() % 300;
        ByteRing ring(capacity);
        constexpr std::size_t kTotal = 60000;
        std::size_t wrongRefusals = 0;
        std::thread producer([&ring, &wrongRefusals, capacity, seed] {
            std::mt19937 rng(seed + 1);
            std::vector<std::uint8_t> piece;
            for (std::size_t sent = 0; sent < kTotal;) {
                piece.resize(std::min<std::size_t>(1 + rng() % (capacity + 8), kTotal - sent));
                for (std::size_t i = 0; i < piece.size(); ++i) {
                    piece[i] = static_cast<std::uint8_t>((sent + i) * 7 + (sent + i) / 251);
                }
                const std::size_t before = ring.Free();
                if (ring.Push(piece.data(), piece.size())) {
                    sent += piece.size();
                } else {
                    // Refused only when it did not fit (the room only grows meanwhile).
                    wrongRefusals += piece.size() <= before;
                    std::this_thread::yield();
                }
            }
        });
        std::size_t got = 0;
        std::size_t wrong = 0;
        while (got < kTotal) {
            const ByteRing::Pieces held = ring.Peek();
            ASSERT_LE(held.size(), capacity);
            const std::size_t take = held.size() == 0 ? 0 : 1 + rng() % held.size();
            for (std::size_t i = 0; i < take; ++i) {
                const std::byte b =
                    i < held.first.size() ? held.first[i] : held.second[i - held.first.size()];
                const std::size_t n = got + i;
                wrong += b != static_cast<std::byte>(n * 7 + n / 251);
            }
            ring.Pop(take);
            got += take;
            if (take == 0) std::this_thread::yield();
        }
        producer.join();
        ASSERT_EQ(wrong, 0u) << "seed " << seed << ", capacity " << capacity;
        ASSERT_EQ(wrongRefusals, 0u) << "seed " << seed << ", capacity " << capacity;
        EXPECT_EQ(ring.Size(), 0u);
    }
}

#ifndef NDEBUG
TEST(ByteRingDeathTest, ASecondProducerThreadIsCaught) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ByteRing ring(16);
            const char byte = 0;
            ring.Push(&byte, 1);
            std::thread([&] { ring.Push(&byte, 1); }).join();
        },
        "second thread");
}
#endif

}  // namespace
