// The decoder on its own: conversions compared with ffmpeg's own, files it must refuse, and
// damaged files. (What it makes of whole files is checked end to end in mci_player_test.)
#include "platform/winmm/mci/mci_decoder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>

#include "support/mci_media.h"

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

    // A playlist or list file that names other files or URLs is not followed.
    const std::string wav = dir.Path("named.wav");
    ASSERT_TRUE(mcitest::Run("sox -n -r 8000 -c 1 -b 16 '" + wav + "' synth 0.5 sine 440"));
    const std::string concat = "ffconcat version 1.0\nfile 'named.wav'\n";
    mcitest::WriteAll(dir.Path("list.ffconcat"), mcitest::Bytes(concat.begin(), concat.end()));
    EXPECT_EQ(MediaDecoder::Open(dir.Path("list.ffconcat").c_str(), d), MCIERR_INVALID_FILE);
    const std::string m3u =
        "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:0.5,\nnamed.wav\n#EXT-X-ENDLIST\n";
    mcitest::WriteAll(dir.Path("list.m3u8"), mcitest::Bytes(m3u.begin(), m3u.end()));
    EXPECT_EQ(MediaDecoder::Open(dir.Path("list.m3u8").c_str(), d), MCIERR_INVALID_FILE);

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
