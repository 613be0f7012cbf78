// CWaveBuffer: copies bounded by the stored size, and adoption of blocks.
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

TEST(WaveBuffer, CopyIsBoundByTheStoredSize) {
    const auto src = Counting(64);
    CWaveBuffer b;
    b.SetNumSamples(5, 4);
    b.CopyBuffer(src.data(), 10, 4);  // a longer source is cut to the stored count
    EXPECT_EQ(b.GetNumSamples(), 5u);
    EXPECT_EQ(Contents(b), std::vector<BYTE>(src.begin(), src.begin() + 20));

    // A shorter source leaves the frames after it zero, not the old contents.
    b.CopyBuffer(src.data() + 30, 2, 4);
    std::vector<BYTE> expected(20, 0);
    std::copy(src.begin() + 30, src.begin() + 38, expected.begin());
    EXPECT_EQ(Contents(b), expected);

    // A larger frame size than stored never writes past the storage (AddressSanitizer).
    b.SetNumSamples(2, 2);
    b.CopyBuffer(src.data(), 2, 16);
    EXPECT_EQ(Contents(b), std::vector<BYTE>(src.begin(), src.begin() + 4));
}

TEST(WaveBuffer, AdoptingTheBlockAlreadyHeldKeepsItAlive) {
    // A double free or use after free shows under AddressSanitizer.
    CWaveBuffer b;
    b.SetNumSamples(10, 2);
    BYTE* block = new BYTE[6]{1, 2, 3, 4, 5, 6};
    b.SetBuffer(block, 3, 2);
    b.SetBuffer(block, 2, 3);
    EXPECT_EQ(b.GetBuffer(), block);
    EXPECT_EQ(Contents(b), (std::vector<BYTE>{1, 2, 3, 4, 5, 6}));
}

}  // namespace
