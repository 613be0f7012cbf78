// CWave on disk, checked against files that sox and ffmpeg read and write.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "tests/audio/wave_file_util.h"

namespace {
using namespace wavetest;

class WaveFileTools : public ScratchDir {
  protected:
    void SetUp() override {
        if (std::system("command -v sox >/dev/null && command -v ffmpeg >/dev/null && "
                        "command -v ffprobe >/dev/null") != 0) {
            GTEST_SKIP() << "sox, ffmpeg and ffprobe are needed (scripts/setup.sh)";
        }
        ScratchDir::SetUp();
    }
    // The first line of a command's output.
    static std::string Line(const std::string& command) {
        const std::string out = Shell(command);
        return out.substr(0, out.find('\n'));
    }
};

TEST_F(WaveFileTools, SavedFileOpensInFfprobeAndSox) {
    CWave w = Sample();  // 11025 Hz stereo 8-bit, 50 frames
    const std::string path = Path("out.wav");
    w.Save(path.c_str());

    EXPECT_EQ(Line("ffprobe -v error -show_entries stream=channels,sample_rate,bits_per_sample,"
                   "duration -of csv=p=0 '" +
                   path + "'"),
              "11025,2,8,0.004535");
    EXPECT_EQ(Line("sox --i -c '" + path + "'"), "2");
    EXPECT_EQ(Line("sox --i -r '" + path + "'"), "11025");
    EXPECT_EQ(Line("sox --i -b '" + path + "'"), "8");
    EXPECT_EQ(Line("sox --i -s '" + path + "'"), "50");
}

TEST_F(WaveFileTools, SixteenBitFileFromSoxReadsBackFrameExact) {
    const std::string in = Path("in.wav");
    Shell("sox -n -r 22050 -c 2 -b 16 '" + in + "' synth 0.3 sine 440 sine 660");
    CWave w;
    w.Load(in.c_str());
    const WAVEFORMATEX f = w.GetFormat();
    EXPECT_EQ(f.nChannels, 2);
    EXPECT_EQ(f.nSamplesPerSec, 22050u);
    EXPECT_EQ(f.wBitsPerSample, 16);
    Shell("sox '" + in + "' -t raw '" + Path("in.raw") + "'");
    EXPECT_EQ(Snapshot(w).samples, ReadFileBytes(Path("in.raw")));
}

TEST_F(WaveFileTools, FilesInOtherLayoutsAreRejectedWithTheSoundUnchanged) {
    const std::string path = Path("reject.wav");
    auto make = [&](const std::string& command) { return [=] { Shell(command); }; };
    const std::string ffmpeg = "ffmpeg -v error -f lavfi -i sine=d=0.05 -ac 1 ";
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
        {"ffmpeg's LIST chunk before data", make(ffmpeg + "-y '" + path + "'")},
        {"ffmpeg mu-law: 18-byte fmt and fact",
         make(ffmpeg + "-c:a pcm_mulaw -bitexact -y '" + path + "'")},
        {"sox big-endian RIFX", make("sox -n -B -b 16 -r 8000 -c 1 '" + path + "' synth 0.05")},
        {"truncated header", patched([](Bytes& b) { b.resize(30); })},
        {"block align 0", patched([](Bytes& b) { b[32] = b[33] = 0; })},
    };
    for (const auto& [name, makeFile] : cases) {
        SCOPED_TRACE(name);
        makeFile();
        CWave w = Sample();
        const Snapshot before(w);
        try {
            w.Load(path.c_str());
            ADD_FAILURE() << "accepted";
        } catch (CFileException& e) {
            EXPECT_EQ(e.m_cause, CFileException::invalidFile);
            EXPECT_EQ(e.m_strFileName, "reject.wav");
        }
        EXPECT_EQ(Snapshot(w), before);
        CFile again(path.c_str(), CFile::modeRead);  // the reader closed the file
    }
}

}  // namespace
