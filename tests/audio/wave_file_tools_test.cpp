// CWave on disk, checked against files that sox and ffmpeg read and write.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "tests/audio/wave_file_util.h"

namespace {
using namespace wavetest;

bool HaveTools() {
    return std::system(
               "command -v sox >/dev/null && command -v ffmpeg >/dev/null && "
               "command -v ffprobe >/dev/null") == 0;
}

class WaveFileTools : public ScratchDir {
  protected:
    void SetUp() override {
        if (!HaveTools()) GTEST_SKIP() << "sox, ffmpeg and ffprobe are needed (scripts/setup.sh)";
        ScratchDir::SetUp();
    }

    // The value of `key=` in ffprobe's output for the file's first stream.
    std::string Probe(const std::string& path, const std::string& key) {
        const std::string out =
            Shell("ffprobe -v error -select_streams a:0 -show_entries stream=" + key +
                  " -of default=nw=1:nk=1 '" + path + "'");
        return out.substr(0, out.find('\n'));
    }
    std::string SoxInfo(const std::string& path, const std::string& option) {
        const std::string out = Shell("sox --i " + option + " '" + path + "'");
        return out.substr(0, out.find('\n'));
    }
};

CWave Sine(WORD channels, DWORD rate, WORD bits, DWORD frames) {
    CWave w;
    w.SetFormat(channels, rate, bits);
    const DWORD bytes = frames * w.GetFormat().nBlockAlign;
    BYTE* block = new BYTE[bytes];
    const Bytes pattern = Counting(bytes, 11);
    std::copy(pattern.begin(), pattern.end(), block);
    w.SetBuffer(block, frames, false);
    return w;
}

TEST_F(WaveFileTools, SavedFilesOpenInFfprobeAndSox) {
    struct Case {
        WORD channels;
        DWORD rate;
        WORD bits;
        DWORD frames;
        const char* codec;
        const char* duration;
    };
    const Case cases[] = {
        {2, 22050, 16, 22050, "pcm_s16le", "1.000000"},
        {1, 8000, 8, 4001, "pcm_u8", "0.500125"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codec);
        CWave w = Sine(c.channels, c.rate, c.bits, c.frames);
        const std::string path = Path("out.wav");
        w.Save(path.c_str());

        EXPECT_EQ(Probe(path, "codec_name"), c.codec);
        EXPECT_EQ(Probe(path, "channels"), std::to_string(c.channels));
        EXPECT_EQ(Probe(path, "sample_rate"), std::to_string(c.rate));
        EXPECT_EQ(Probe(path, "bits_per_sample"), std::to_string(c.bits));
        EXPECT_EQ(Probe(path, "duration"), c.duration);

        EXPECT_EQ(SoxInfo(path, "-c"), std::to_string(c.channels));
        EXPECT_EQ(SoxInfo(path, "-r"), std::to_string(c.rate));
        EXPECT_EQ(SoxInfo(path, "-b"), std::to_string(c.bits));
        EXPECT_EQ(SoxInfo(path, "-s"), std::to_string(c.frames));

        // sox decodes exactly the frames that were saved.
        Shell("sox '" + path + "' -t raw '" + Path("out.raw") + "'");
        EXPECT_EQ(ReadFileBytes(Path("out.raw")), Snapshot(w).samples);
    }
}

TEST_F(WaveFileTools, FilesFromSoxAndFfmpegInTheFixedLayoutReadBackFrameExact) {
    struct Case {
        std::string make;
        WORD channels;
        DWORD rate;
        WORD bits;
    };
    const std::string out = Path("in.wav");
    const Case cases[] = {
        {"sox -n -r 22050 -c 2 -b 16 '" + out + "' synth 0.3 sine 440 sine 660", 2, 22050, 16},
        {"ffmpeg -v error -f lavfi -i sine=d=0.2 -ac 1 -bitexact -y '" + out + "'", 1, 44100, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.make);
        Shell(c.make);
        CWave w;
        w.Load(out.c_str());
        const WAVEFORMATEX f = w.GetFormat();
        EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(f.nChannels, c.channels);
        EXPECT_EQ(f.nSamplesPerSec, c.rate);
        EXPECT_EQ(f.wBitsPerSample, c.bits);
        EXPECT_EQ(f.nBlockAlign, c.channels * c.bits / 8);

        Shell("sox '" + out + "' -t raw '" + Path("in.raw") + "'");
        const Bytes raw = ReadFileBytes(Path("in.raw"));
        EXPECT_EQ(w.GetNumSamples(), raw.size() / f.nBlockAlign);
        EXPECT_EQ(Snapshot(w).samples, raw);
    }
}

TEST_F(WaveFileTools, FilesInOtherLayoutsAreRejectedWithTheSoundUnchanged) {
    const std::string path = Path("reject.wav");
    auto soxFile = [&](const std::string& options) {
        return [=] {
            Shell("sox -n " + options + " -r 8000 -c 1 '" + path + "' synth 0.05 sine 440");
        };
    };
    auto ffmpegFile = [&](const std::string& options) {
        return [=] {
            Shell("ffmpeg -v error -f lavfi -i sine=d=0.05 -ac 1 " + options + " -y '" + path +
                  "'");
        };
    };
    // A plain 16-bit file from sox, then changed by hand.
    auto patched = [&](std::function<void(Bytes&)> change) {
        return [=] {
            Shell("sox -n -r 8000 -c 1 -b 16 '" + path + "' synth 0.05 sine 440");
            Bytes b = ReadFileBytes(path);
            change(b);
            WriteFileBytes(path, b);
        };
    };
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"ffmpeg's LIST chunk before data", ffmpegFile("")},
        {"ffmpeg mu-law: 18-byte fmt and fact", ffmpegFile("-c:a pcm_mulaw -bitexact")},
        {"ffmpeg RF64", ffmpegFile("-bitexact -rf64 always")},
        {"sox float: 18-byte fmt and fact", soxFile("-e floating-point -b 32")},
        {"sox 24-bit: extensible fmt", soxFile("-b 24")},
        {"sox big-endian RIFX", soxFile("-B -b 16")},
        {"truncated header", patched([](Bytes& b) { b.resize(30); })},
        {"block align 0", patched([](Bytes& b) { b[32] = b[33] = 0; })},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        make();
        CWave w = Sine(2, 11025, 8, 20);
        const Snapshot before(w);
        try {
            w.Load(path.c_str());
            ADD_FAILURE() << "accepted";
        } catch (CFileException& e) {
            EXPECT_EQ(e.m_cause, CFileException::invalidFile);
            EXPECT_EQ(e.m_lOsError, -1);
            EXPECT_EQ(e.m_strFileName, "reject.wav");
        }
        EXPECT_EQ(Snapshot(w), before);
        // The reader closed the file: it opens again at once.
        CFile again(path.c_str(), CFile::modeRead);
    }
}

TEST_F(WaveFileTools, LoadAndSaveRefuseAFileHeldOpen) {
    const std::string path = Path("held.wav");
    CWave original = Sine(1, 8000, 16, 100);
    original.Save(path.c_str());
    const Bytes onDisk = ReadFileBytes(path);

    CFile holder(path.c_str(), CFile::modeRead | CFile::shareExclusive);
    CWave w = Sine(2, 11025, 8, 20);
    const Snapshot before(w);
    try {
        w.Load(path.c_str());
        ADD_FAILURE() << "loaded a file held open";
    } catch (CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::sharingViolation);
        EXPECT_EQ(e.m_strFileName, "held.wav");
    }
    EXPECT_EQ(Snapshot(w), before);
    EXPECT_THROW(w.Save(path.c_str()), CFileException);
    EXPECT_EQ(ReadFileBytes(path), onDisk);  // not truncated

    holder.Close();
    w.Load(path.c_str());
    EXPECT_EQ(Snapshot(w), Snapshot(original));
}

}  // namespace
