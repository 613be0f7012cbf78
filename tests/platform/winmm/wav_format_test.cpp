// The WAV format module that every reader and writer of the system shares.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <tuple>
#include <vector>

#include "platform/ext/wavformat.h"

namespace {

TEST(WavFormat, PcmRecordsDeriveAlignAndRateDroppingRemainders) {
    const struct {
        WORD channels;
        DWORD rate;
        WORD bits;
        WORD align;
        DWORD average;
    } cases[] = {{2, 22050, 16, 4, 88200},
                 {1, 8000, 12, 1, 12000},  // 12 bits: one byte a frame, 1.5 a sample second
                 {3, 44100, 20, 7, 330750},
                 {2, 0x40000000, 32, 8, 0}};  // the 32-bit product wraps round
    for (const auto& c : cases) {
        const WAVEFORMATEX f = MakePcmFormat(c.channels, c.rate, c.bits);
        EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(f.nBlockAlign, c.align) << c.channels << " x " << c.bits;
        EXPECT_EQ(f.nAvgBytesPerSec, c.average) << c.channels << " x " << c.bits;
        EXPECT_EQ(f.cbSize, 0);
    }
}

TEST(WavFormat, HeaderReadsBackWhatWasWrittenAndOnlyInTheFixedArrangement) {
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        const WAVEFORMATEX written = MakePcmFormat(static_cast<WORD>(1 + random() % 8), random(),
                                                   static_cast<WORD>(8 << random() % 3));
        const DWORD bytes = random();
        BYTE header[kWavHeaderBytes];
        const auto block = WavHeader(written, bytes, bytes & 1);
        std::copy(block.begin(), block.end(), header);
        WAVEFORMATEX read{};
        DWORD readBytes = 0;
        ASSERT_TRUE(ReadWavHeader(header, &read, &readBytes));
        EXPECT_EQ(std::memcmp(&read, &written, sizeof read), 0);
        EXPECT_EQ(readBytes, bytes);
        for (const std::size_t tag : {0u, 8u, 12u, 36u}) {
            BYTE moved[kWavHeaderBytes];
            std::copy(header, header + kWavHeaderBytes, moved);
            moved[tag] = 'X';
            EXPECT_FALSE(ReadWavHeader(moved, &read, &readBytes)) << "tag at " << tag;
        }
    }
}

TEST(WavFormat, FormatRecordReadsMissingFieldsAsZero) {
    const BYTE extensible[kFormatRecordBytes + 2] = {
        0xFE, 0xFF, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 22, 0, 9, 9};
    const WAVEFORMATEX full = ReadFormatRecord(extensible, sizeof extensible);
    EXPECT_EQ(full.wFormatTag, 0xFFFE);
    EXPECT_EQ(full.nSamplesPerSec, 44100u);
    EXPECT_EQ(full.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(full.cbSize, 22);
    EXPECT_EQ(ReadFormatRecord(extensible, kPcmFormatBytes).cbSize, 0);  // PCM's 16 bytes
    const WAVEFORMATEX cut = ReadFormatRecord(extensible, 5);
    EXPECT_EQ(cut.nChannels, 2);
    EXPECT_EQ(cut.nSamplesPerSec, 0x44u);
    EXPECT_EQ(cut.wBitsPerSample, 0);
}

TEST(WavFormat, StreamedFileIsHeaderDataAndPadWithTheHeaderRewrittenOnlyWhenItChanged) {
    // bits, declared data bytes, padded, data bytes, header rewrites
    const std::tuple<WORD, std::uint64_t, bool, std::size_t, int> cases[] = {
        {8, 0, true, 7, 1},   {8, 7, false, 7, 0},   {8, 7, true, 7, 1},
        {16, 0, true, 12, 1}, {16, 12, false, 8, 1}, {16, 0, false, 0, 0}};
    for (const auto& [bits, declared, padded, bytes, rewrites] : cases) {
        const WAVEFORMATEX format = MakePcmFormat(1, 8000, bits);
        std::vector<BYTE> file, data(bytes);
        std::iota(data.begin(), data.end(), BYTE{1});
        std::size_t at = 0;
        int rewinds = 0;
        auto write = [&](const BYTE* piece, std::size_t count) {
            file.resize((std::max)(file.size(), at + count));
            std::copy(piece, piece + count, file.begin() + static_cast<std::ptrdiff_t>(at));
            at += count;
            return true;
        };
        WavFileWriter wav(format, write, padded);
        ASSERT_TRUE(wav.Begin(declared) && wav.Append(data.data(), bytes / 2) &&
                    wav.Append(data.data() + bytes / 2, bytes - bytes / 2));
        ASSERT_TRUE(wav.Finish([&] { return ++rewinds, at = 0, true; }));
        const DWORD pad = padded ? bytes & 1 : 0;
        const auto header = WavHeader(format, static_cast<DWORD>(bytes), pad);
        std::vector<BYTE> expected(header.begin(), header.end());
        expected.insert(expected.end(), data.begin(), data.end());
        expected.resize(expected.size() + pad);
        EXPECT_EQ(file, expected) << bytes << " bytes";
        EXPECT_EQ(rewinds, rewrites) << bytes << " bytes";
    }
}

TEST(WavFormat, StreamedFileStopsAtTheLastFrameItsSizesCount) {
    // Three-byte frames end at an odd size: a padded file stops a frame earlier. Only counted.
    static const BYTE kPiece[1 << 26] = {};
    for (const bool pad : {false, true}) {
        WavFileWriter wav(
            MakePcmFormat(1, 8000, 24), [](const BYTE*, std::size_t) { return true; }, pad);
        ASSERT_TRUE(wav.Begin());
        for (int i = 0; i < 80; ++i) ASSERT_TRUE(wav.Append(kPiece, sizeof kPiece));  // 5 GiB
        EXPECT_EQ(wav.DataBytes(), pad ? 0xFFFFFFD8u : 0xFFFFFFDBu);  // 36 + data <= 2^32 - 1
    }
}

}  // namespace
