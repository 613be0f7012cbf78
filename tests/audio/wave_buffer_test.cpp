#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "audio/WaveBuffer.h"

namespace {

std::vector<BYTE> Counting(std::size_t n, BYTE first = 1) {
    std::vector<BYTE> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

std::vector<BYTE> Contents(const CWaveBuffer& b) {
    const BYTE* p = b.GetBuffer();
    return {p, p + static_cast<std::size_t>(b.GetNumSamples()) * b.GetSampleSize()};
}

TEST(WaveBuffer, CopyIntoEmptyBufferAllocatesExactlyTheFramesGiven) {
    const auto src = Counting(12);
    CWaveBuffer b;
    b.CopyBuffer(src.data(), 3, 4);
    EXPECT_EQ(b.GetNumSamples(), 3u);
    EXPECT_EQ(b.GetSampleSize(), 4);
    EXPECT_EQ(Contents(b), src);

    // No frames into an empty buffer: an empty block is installed, nothing is copied.
    CWaveBuffer none;
    none.CopyBuffer(src.data(), 0, 4);
    EXPECT_NE(none.GetBuffer(), nullptr);
    EXPECT_EQ(none.GetNumSamples(), 0u);
}

TEST(WaveBuffer, CopyKeepsTheStoredSize) {
    const auto src = Counting(40);
    CWaveBuffer b;
    b.SetNumSamples(5, 4);

    // A longer source is cut to the stored count.
    b.CopyBuffer(src.data(), 10, 4);
    EXPECT_EQ(b.GetNumSamples(), 5u);
    EXPECT_EQ(Contents(b), std::vector<BYTE>(src.begin(), src.begin() + 20));

    // A shorter source leaves the frames after it zero, not the old contents.
    const auto other = Counting(8, 100);
    b.CopyBuffer(other.data(), 2, 4);
    std::vector<BYTE> expected(20, 0);
    std::copy(other.begin(), other.end(), expected.begin());
    EXPECT_EQ(Contents(b), expected);

    // No frames: the old contents stay untouched.
    b.CopyBuffer(nullptr, 0, 4);
    EXPECT_EQ(Contents(b), expected);
}

TEST(WaveBuffer, CopyNeverWritesPastTheStorageWhateverFrameSizeIsGiven) {
    // Under AddressSanitizer an overrun here is a failure.
    const auto src = Counting(64);
    CWaveBuffer b;
    b.SetNumSamples(2, 2);
    b.CopyBuffer(src.data(), 2, 16);
    EXPECT_EQ(Contents(b), std::vector<BYTE>(src.begin(), src.begin() + 4));
}

TEST(WaveBuffer, SetBufferAdoptsTheBlockAndReleasesThePrevious) {
    // Leaks and double frees show under AddressSanitizer.
    CWaveBuffer b;
    b.SetNumSamples(10, 2);
    BYTE* block = new BYTE[6]{1, 2, 3, 4, 5, 6};
    b.SetBuffer(block, 3, 2);
    EXPECT_EQ(b.GetBuffer(), block);
    EXPECT_EQ(b.GetNumSamples(), 3u);
    EXPECT_EQ(b.GetSampleSize(), 2);

    // Adopting the block already held keeps it alive.
    b.SetBuffer(block, 2, 3);
    EXPECT_EQ(b.GetBuffer(), block);
    EXPECT_EQ(Contents(b), (std::vector<BYTE>{1, 2, 3, 4, 5, 6}));

    b.SetNumSamples(4, 1);
    EXPECT_NE(b.GetBuffer(), nullptr);
    EXPECT_EQ(b.GetNumSamples(), 4u);
    EXPECT_EQ(b.GetSampleSize(), 1);
}

}  // namespace
