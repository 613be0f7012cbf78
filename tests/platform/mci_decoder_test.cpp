// The decoder on its own: what it produces from files made by sox and ffmpeg, compared with
// the files' PCM and with ffmpeg's own decode; files it must refuse.
#include "platform/src/mci_decoder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>

#include "platform/mci_media.h"

using talrec::mci::MediaDecoder;
using talrec::mci::PcmFormat;

namespace {

mcitest::Bytes DecodeAll(MediaDecoder& d) {
    mcitest::Bytes all;
    std::uint8_t chunk[3000];  // not a multiple of every frame size, on purpose
    for (;;) {
        const std::size_t n = d.Read(chunk, sizeof chunk);
        all.insert(all.end(), chunk, chunk + n);
        if (n <
            sizeof chunk - sizeof chunk % static_cast<std::size_t>(d.OutputFormat().FrameBytes())) {
            break;
        }
    }
    return all;
}

std::unique_ptr<MediaDecoder> OpenOk(const std::string& path) {
    std::unique_ptr<MediaDecoder> d;
    EXPECT_EQ(MediaDecoder::Open(path.c_str(), d), 0u) << path;
    return d;
}

class DecoderTest : public ::testing::Test {
  protected:
    mcitest::ScratchDir dir;
};

struct WavCase {
    const char* name;
    int rate;
    int channels;
    int bits;
};

class PcmWavTest : public DecoderTest, public ::testing::WithParamInterface<WavCase> {};

TEST_P(PcmWavTest, ProducesTheFileSamplesUnchangedInTheirOwnFormat) {
    const WavCase c = GetParam();
    const std::string path = dir.Path("in.wav");
    ASSERT_TRUE(mcitest::Run("sox -n -r " + std::to_string(c.rate) + " -c " +
                             std::to_string(c.channels) + " -b " + std::to_string(c.bits) +
                             (c.bits == 8 ? " -e unsigned-integer '" : " -e signed-integer '") +
                             path + "' synth 1.3 sine 300-900 sine 440"));
    const mcitest::WavPcm wav = mcitest::ReadWav(path);
    ASSERT_GT(wav.data.size(), 0u);

    auto d = OpenOk(path);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->NaturalFormat(), (PcmFormat{c.rate, c.channels, c.bits}));
    EXPECT_NEAR(d->LengthMs(), 1300, 1);
    const mcitest::Bytes decoded = DecodeAll(*d);
    EXPECT_EQ(decoded, wav.data);
    EXPECT_TRUE(d->AtEnd());
    EXPECT_EQ(d->FramesRead(), wav.data.size() / static_cast<std::size_t>(c.channels * c.bits / 8));
    std::uint8_t more[16];
    EXPECT_EQ(d->Read(more, sizeof more), 0u);

    // Rewound, it gives the same samples again.
    ASSERT_TRUE(d->Rewind());
    EXPECT_EQ(d->FramesRead(), 0u);
    EXPECT_EQ(DecodeAll(*d), wav.data);
}

INSTANTIATE_TEST_SUITE_P(Formats, PcmWavTest,
                         ::testing::Values(WavCase{"u8mono11025", 11025, 1, 8},
                                           WavCase{"u8stereo8000", 8000, 2, 8},
                                           WavCase{"s16mono22050", 22050, 1, 16},
                                           WavCase{"s16stereo44100", 44100, 2, 16},
                                           WavCase{"s16stereo48000", 48000, 2, 16}),
                         [](const auto& info) { return std::string(info.param.name); });

struct CodedCase {
    const char* name;
    const char* extension;
    const char* codec;
    int maxDifference;  // where the two decodes may round apart
};

class CodedFileTest : public DecoderTest, public ::testing::WithParamInterface<CodedCase> {};

TEST_P(CodedFileTest, MatchesFfmpegsOwnDecode) {
    const CodedCase c = GetParam();
    const std::string path = dir.Path(std::string("in.") + c.extension);
    ASSERT_TRUE(mcitest::Run(
        "ffmpeg -nostdin -v error -y -f lavfi -i 'sine=frequency=440:duration=2:sample_rate=44100' "
        "-f lavfi -i 'sine=frequency=660:duration=2:sample_rate=44100' "
        "-filter_complex amerge=inputs=2 -c:a " +
        std::string(c.codec) + " '" + path + "'"));
    auto d = OpenOk(path);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->NaturalFormat(), (PcmFormat{44100, 2, 16}));
    EXPECT_NEAR(d->LengthMs(), 2000, 60);
    const mcitest::Bytes ours = DecodeAll(*d);
    const mcitest::Bytes theirs = mcitest::FfmpegDecode(path, 44100, 2);
    ASSERT_GT(theirs.size(), 44100u * 4);
    EXPECT_EQ(ours.size(), theirs.size());
    EXPECT_LE(mcitest::MaxSampleDifference(ours, theirs), c.maxDifference);
}

INSTANTIATE_TEST_SUITE_P(Codecs, CodedFileTest,
                         ::testing::Values(CodedCase{"wma", "wma", "wmav2", 1},
                                           CodedCase{"mp3", "mp3", "libmp3lame", 1},
                                           CodedCase{"ogg", "ogg", "libvorbis", 1},
                                           CodedCase{"flac", "flac", "flac", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecoderTest, ConvertsToAnotherRateAndChannelCountLikeFfmpeg) {
    const std::string path = dir.Path("in.wav");
    ASSERT_TRUE(mcitest::Run("sox -n -r 32000 -c 2 -b 16 '" + path + "' synth 1 sine 440"));
    auto d = OpenOk(path);
    ASSERT_TRUE(d);
    ASSERT_TRUE(d->SetOutputFormat(PcmFormat{48000, 1, 16}));
    const mcitest::Bytes ours = DecodeAll(*d);
    const mcitest::Bytes theirs = mcitest::FfmpegDecode(path, 48000, 1);
    EXPECT_NEAR(static_cast<double>(ours.size()), static_cast<double>(theirs.size()), 2 * 64.0);
    EXPECT_LE(mcitest::MaxSampleDifference(ours, theirs), 2);
    EXPECT_FALSE(d->SetOutputFormat(PcmFormat{48000, 3, 16}));
    EXPECT_FALSE(d->SetOutputFormat(PcmFormat{48000, 2, 24}));
}

TEST_F(DecoderTest, WiderSamplesAndMoreChannelsComeOutAs16BitStereoLikeFfmpegMakesThem) {
    for (const char* make : {"-c 2 -b 24 -e signed-integer", "-c 1 -b 32 -e floating-point",
                             "-c 6 -b 16 -e signed-integer"}) {
        SCOPED_TRACE(make);
        const std::string path = dir.Path("wide.wav");
        ASSERT_TRUE(mcitest::Run("sox -n -r 44100 " + std::string(make) + " '" + path +
                                 "' synth 0.5 sine 440 sine 660 vol 0.5"));
        auto d = OpenOk(path);
        ASSERT_TRUE(d);
        const PcmFormat natural = d->NaturalFormat();
        EXPECT_EQ(natural.bits, 16);
        EXPECT_EQ(natural.rate, 44100);
        EXPECT_LE(natural.channels, 2);
        const mcitest::Bytes ours = DecodeAll(*d);
        const mcitest::Bytes theirs = mcitest::FfmpegDecode(path, 44100, natural.channels);
        EXPECT_EQ(ours.size(), theirs.size());
        EXPECT_LE(mcitest::MaxSampleDifference(ours, theirs), 1);
    }
}

TEST_F(DecoderTest, PlaysTheSoundTrackOfAVideoFile) {
    const std::string path = dir.Path("clip.mkv");
    ASSERT_TRUE(mcitest::Run(
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=duration=1:size=64x48:rate=10 "
        "-f lavfi -i 'sine=frequency=500:duration=1:sample_rate=22050' -c:v mpeg4 -c:a flac '" +
        path + "'"));
    auto d = OpenOk(path);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->NaturalFormat(), (PcmFormat{22050, 1, 16}));
    EXPECT_EQ(DecodeAll(*d), mcitest::FfmpegDecode(path, 22050, 1));
}

TEST_F(DecoderTest, RefusesWhatIsNoPlayableLocalFile) {
    std::unique_ptr<MediaDecoder> d;
    EXPECT_EQ(MediaDecoder::Open(dir.Path("missing.wav").c_str(), d), MCIERR_FILE_NOT_FOUND);
    EXPECT_EQ(MediaDecoder::Open(dir.Path("no/such/dir.wav").c_str(), d), MCIERR_FILE_NOT_FOUND);
    // A URL is a file name like any other: nothing is fetched.
    EXPECT_EQ(MediaDecoder::Open("http://127.0.0.1:9/a.wav", d), MCIERR_FILE_NOT_FOUND);

    mcitest::WriteAll(dir.Path("empty.wav"), {});
    EXPECT_EQ(MediaDecoder::Open(dir.Path("empty.wav").c_str(), d), MCIERR_INVALID_FILE);
    const std::string text = "This is a text file, not a sound.\nSecond line.\n";
    mcitest::WriteAll(dir.Path("notes.txt"), mcitest::Bytes(text.begin(), text.end()));
    EXPECT_EQ(MediaDecoder::Open(dir.Path("notes.txt").c_str(), d), MCIERR_INVALID_FILE);
    mcitest::WriteAll(dir.Path("text.wav"), mcitest::Bytes(text.begin(), text.end()));
    EXPECT_EQ(MediaDecoder::Open(dir.Path("text.wav").c_str(), d), MCIERR_INVALID_FILE);
    EXPECT_EQ(MediaDecoder::Open(dir.Path("").c_str(), d), MCIERR_INVALID_FILE);  // a folder
    ASSERT_EQ(::mkfifo(dir.Path("pipe.wav").c_str(), 0600), 0);
    EXPECT_EQ(MediaDecoder::Open(dir.Path("pipe.wav").c_str(), d), MCIERR_INVALID_FILE);

    // A video without sound has nothing to play.
    const std::string silent = dir.Path("silent.mkv");
    ASSERT_TRUE(
        mcitest::Run("ffmpeg -nostdin -v error -y -f lavfi -i "
                     "testsrc=duration=1:size=64x48:rate=10 -c:v mpeg4 '" +
                     silent + "'"));
    EXPECT_EQ(MediaDecoder::Open(silent.c_str(), d), MCIERR_INVALID_FILE);
    EXPECT_FALSE(d);
}

TEST_F(DecoderTest, TruncatedWmaIsRefusedInItsHeaderAndPlayedUpToTheCutInItsData) {
    const std::string whole = dir.Path("whole.wma");
    ASSERT_TRUE(
        mcitest::Run("ffmpeg -nostdin -v error -y -f lavfi -i "
                     "'sine=frequency=440:duration=3:sample_rate=44100' -ac 2 -c:a wmav2 '" +
                     whole + "'"));
    const mcitest::Bytes bytes = mcitest::ReadAll(whole);
    ASSERT_GT(bytes.size(), 20000u);

    std::unique_ptr<MediaDecoder> d;
    mcitest::WriteAll(dir.Path("head.wma"), mcitest::Bytes(bytes.begin(), bytes.begin() + 300));
    EXPECT_EQ(MediaDecoder::Open(dir.Path("head.wma").c_str(), d), MCIERR_INVALID_FILE);

    mcitest::WriteAll(
        dir.Path("half.wma"),
        mcitest::Bytes(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2) + 123));
    d = OpenOk(dir.Path("half.wma"));
    ASSERT_TRUE(d);
    const mcitest::Bytes decoded = DecodeAll(*d);
    EXPECT_GT(decoded.size(), 44100u * 4 / 2);  // some of the three seconds
    EXPECT_LT(decoded.size(), 44100u * 4 * 3);  // not all of them
    EXPECT_TRUE(d->AtEnd());
}

TEST_F(DecoderTest, DamagedFilesOpenOrAreRefusedAndDecodeWithoutFault) {
    const std::string source = "-f lavfi -i 'sine=frequency=440:duration=1:sample_rate=22050' ";
    for (const char* codec : {"wmav2 -f asf", "libmp3lame -f mp3", "libvorbis -f ogg",
                              "pcm_s16le -f wav", "flac -f flac"}) {
        SCOPED_TRACE(codec);
        const std::string whole = dir.Path("whole");
        ASSERT_TRUE(mcitest::Run("ffmpeg -nostdin -v error -y " + source + "-c:a " + codec + " '" +
                                 whole + "'"));
        const mcitest::Bytes good = mcitest::ReadAll(whole);
        std::uint32_t seed = 12345;
        for (int round = 0; round < 12; ++round) {
            mcitest::Bytes bad = good;
            for (int k = 0; k < 1 + round * 4; ++k) {
                seed = seed * 1103515245u + 12345u;
                bad[(seed >> 8) % bad.size()] = static_cast<std::uint8_t>(seed >> 24);
            }
            if (round % 3 == 2) bad.resize(bad.size() * static_cast<std::size_t>(round) / 13);
            const std::string path = dir.Path("bad" + std::to_string(round));
            mcitest::WriteAll(path, bad);
            std::unique_ptr<MediaDecoder> d;
            const MCIERROR rc = MediaDecoder::Open(path.c_str(), d);
            if (rc != 0) {
                EXPECT_EQ(rc, MCIERR_INVALID_FILE);
                continue;
            }
            ASSERT_TRUE(d->SetOutputFormat(PcmFormat{44100, 2, 16}));
            const mcitest::Bytes out = DecodeAll(*d);
            EXPECT_EQ(out.size() % 4, 0u);
            EXPECT_TRUE(d->AtEnd());
        }
    }
}

}  // namespace
