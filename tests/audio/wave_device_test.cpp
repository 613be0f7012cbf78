// The device selector: its format questions and what they leave behind.
#include <gtest/gtest.h>

#include "audio/WaveDevice.h"
#include "audio/WaveIn.h"
#include "audio/WaveOut.h"
#include "support/wave_test_util.h"

using wavetest::EnvVar;

namespace {

CWave Sound(WORD channels, DWORD rate, WORD bits) {
    CWave w;
    w.SetFormat(channels, rate, bits);
    return w;
}

TEST(WaveDevice, AnswersYesExactlyWhenTheDeviceTakesTheFormat) {
    const CWaveDevice mapper(WAVE_MAPPER);
    EXPECT_EQ(mapper.GetDevice(), WAVE_MAPPER);
    const CWave good = Sound(2, 22050, 16);
    EXPECT_TRUE(mapper.IsInputFormat(good));
    EXPECT_TRUE(mapper.IsOutputFormat(good));
    // A width the device layer does not take, a device that does not exist, no driver.
    EXPECT_FALSE(mapper.IsInputFormat(Sound(2, 22050, 12)));
    EXPECT_FALSE(mapper.IsOutputFormat(Sound(2, 22050, 12)));
    const CWaveDevice fifth(5);
    EXPECT_FALSE(fifth.IsInputFormat(good));
    EXPECT_FALSE(fifth.IsOutputFormat(good));
    {
        EnvVar dev("TALREC_WAVE_DEVICE", "no-such-backend");
        EXPECT_FALSE(mapper.IsInputFormat(good));
        EXPECT_FALSE(mapper.IsOutputFormat(good));
    }
    // A copy asks the same device.
    CWaveDevice copy(0);
    copy = fifth;
    EXPECT_EQ(copy.GetDevice(), 5u);
    EXPECT_FALSE(CWaveDevice(copy).IsInputFormat(good));
}

TEST(WaveDevice, TheWholeFormatRecordIsAsked) {
    // The file source takes only its own format: the answer depends on rate and channels.
    const std::string path = wavetest::ScratchPath("device-src.wav");
    wavetest::WriteWav(path, wavetest::Pcm(1, 8000, 8), std::vector<BYTE>(100, 0x80));
    EnvVar src("TALREC_VIRTUAL_SOURCE", "file:" + path);
    const CWaveDevice mapper(WAVE_MAPPER);
    EXPECT_TRUE(mapper.IsInputFormat(Sound(1, 8000, 8)));
    EXPECT_FALSE(mapper.IsInputFormat(Sound(1, 8001, 8)));
    EXPECT_FALSE(mapper.IsInputFormat(Sound(2, 8000, 8)));
}

TEST(WaveDevice, AfterAQueryTheDeviceOpensAtOnce) {
    const CWaveDevice mapper(WAVE_MAPPER);
    const CWave good = Sound(2, 22050, 16);
    ASSERT_TRUE(mapper.IsInputFormat(good));
    CWaveIn in(good.GetFormat(), mapper);
    EXPECT_TRUE(in.Open());
    EXPECT_TRUE(in.Close());
    ASSERT_TRUE(mapper.IsOutputFormat(good));
    CWaveOut out(good, mapper);
    EXPECT_TRUE(out.Open());
    EXPECT_TRUE(out.Close());
}

}  // namespace
