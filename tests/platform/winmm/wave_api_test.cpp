// The wave-audio front: handles, headers, flags, formats, settings and error texts, on the
// virtual device.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "platform/ext/wavedevices.h"
#include "platform/mmwave.h"
#include "support/wave_test_util.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using wavetest::Buffer;
using wavetest::EnvVar;
using wavetest::Pcm;
using wavetest::Recorder;

namespace {

const WAVEFORMATEX kFormat = Pcm(2, 22050, 16);

MMRESULT QueryIn(const WAVEFORMATEX& f, UINT device = WAVE_MAPPER) {
    return waveInOpen(nullptr, device, &f, 0, 0, WAVE_FORMAT_QUERY);
}
MMRESULT QueryOut(const WAVEFORMATEX& f, UINT device = WAVE_MAPPER) {
    return waveOutOpen(nullptr, device, &f, 0, 0, WAVE_FORMAT_QUERY);
}

TEST(WaveFront, EveryCallRefusesAHandleThatIsNotOpen) {
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);

    Buffer b(4096);
    MMTIME t{TIME_SAMPLES, {}};
    // A closed handle, a null one, and a handle of the other direction.
    for (HWAVEIN bad : {in, static_cast<HWAVEIN>(nullptr), reinterpret_cast<HWAVEIN>(out)}) {
        EXPECT_EQ(waveInClose(bad), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInPrepareHeader(bad, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInUnprepareHeader(bad, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInAddBuffer(bad, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInStart(bad), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInStop(bad), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInReset(bad), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInGetPosition(bad, &t, sizeof t), MMSYSERR_INVALHANDLE);
    }
    const HWAVEOUT wrong = reinterpret_cast<HWAVEOUT>(in);
    for (HWAVEOUT bad : {wrong, static_cast<HWAVEOUT>(nullptr)}) {
        EXPECT_EQ(waveOutPrepareHeader(bad, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutWrite(bad, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutPause(bad), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutRestart(bad), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutReset(bad), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutGetPosition(bad, &t, sizeof t), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutClose(bad), MMSYSERR_INVALHANDLE);
    }
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_INVALHANDLE);
}

TEST(WaveFront, HeadersAreCheckedAndFollowTheirStates) {
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    Buffer b(4096);
    EXPECT_EQ(waveInPrepareHeader(in, nullptr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInPrepareHeader(in, &b.hdr, sizeof(WAVEHDR) - 1), MMSYSERR_INVALPARAM);
    Buffer noData(16);
    noData.hdr.lpData = nullptr;
    EXPECT_EQ(waveInPrepareHeader(in, &noData.hdr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);

    EXPECT_EQ(waveInAddBuffer(in, &b.hdr, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    ASSERT_EQ(waveInPrepareHeader(in, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(b.Flags(), WHDR_PREPARED);
    EXPECT_EQ(waveInPrepareHeader(in, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);  // again: fine
    ASSERT_EQ(waveInAddBuffer(in, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(b.Flags(), WHDR_PREPARED | WHDR_INQUEUE);
    EXPECT_EQ(waveInAddBuffer(in, &b.hdr, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInUnprepareHeader(in, &b.hdr, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInClose(in), WAVERR_STILLPLAYING);  // a buffer is still queued

    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(b.Flags(), WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(b.hdr.dwBytesRecorded, 0u);
    EXPECT_EQ(waveInUnprepareHeader(in, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(b.Flags(), WHDR_DONE);

    // A capture buffer must hold at least one frame.
    Buffer tiny(3);
    ASSERT_EQ(waveInPrepareHeader(in, &tiny.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInAddBuffer(in, &tiny.hdr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST(WaveFront, OpenChecksFlagsDeviceAndCallback) {
    HWAVEIN in = nullptr;
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &kFormat, 0, 0, 0x00800000), MMSYSERR_INVALFLAG);
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &kFormat, 1, 0, 0x00010000 /* CALLBACK_WINDOW */),
              MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(QueryIn(kFormat, 1), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(QueryIn(kFormat, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInGetNumDevs(), 1u);
    EXPECT_EQ(waveOutGetNumDevs(), 1u);
}

TEST(WaveFront, FormatQueryChecksTheWholeRecordAndOpensNothing) {
    for (WORD bits : {8, 16, 24, 32}) {
        for (WORD ch : {1, 2, 6}) {
            EXPECT_EQ(QueryIn(Pcm(ch, 8000, bits)), MMSYSERR_NOERROR) << bits << " " << ch;
            EXPECT_EQ(QueryOut(Pcm(ch, 96000, bits)), MMSYSERR_NOERROR) << bits << " " << ch;
        }
    }
    WAVEFORMATEX f = kFormat;
    f.wFormatTag = 3;  // IEEE float
    EXPECT_EQ(QueryIn(f), WAVERR_BADFORMAT);
    EXPECT_EQ(QueryOut(f), WAVERR_BADFORMAT);
    f = kFormat;
    f.nBlockAlign = 2;
    EXPECT_EQ(QueryIn(f), WAVERR_BADFORMAT);
    f = kFormat;
    f.nAvgBytesPerSec = 44100;
    EXPECT_EQ(QueryOut(f), WAVERR_BADFORMAT);
    EXPECT_EQ(QueryIn(Pcm(2, 22050, 12)), WAVERR_BADFORMAT);
    EXPECT_EQ(QueryIn(Pcm(0, 22050, 16)), WAVERR_BADFORMAT);
    EXPECT_EQ(QueryIn(Pcm(2, 0, 16)), WAVERR_BADFORMAT);
    f = kFormat;
    f.cbSize = 22;  // no extra bytes follow; a PCM record's extra size is not read
    EXPECT_EQ(QueryIn(f), MMSYSERR_NOERROR);

    // The same answer each time, and nothing held open: an open right after succeeds, and
    // with a sink file the query creates no file.
    const std::string sink = wavetest::ScratchPath("query-sink.wav");
    std::remove(sink.c_str());
    EnvVar s("TALREC_VIRTUAL_SINK", "file:" + sink);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(QueryOut(kFormat), MMSYSERR_NOERROR);
    EXPECT_FALSE(std::ifstream(sink).good());
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

TEST(WaveFront, SettingsThatNameNothingKnownFailWithoutFallingBack) {
    for (const char* bad : {"bogus", "alsa:", "Virtual", "virtual:x"}) {
        EnvVar d("TALREC_WAVE_DEVICE", bad);
        EXPECT_EQ(QueryIn(kFormat), MMSYSERR_NODRIVER) << bad;
        HWAVEOUT out = nullptr;
        EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER)
            << bad;
        EXPECT_EQ(waveInGetNumDevs(), 0u) << bad;
        WAVEINCAPSA caps;
        EXPECT_EQ(waveInGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NODRIVER);
    }
    for (const char* bad : {"tone", "tone:abc", "tone:440:2", "noise", "file:"}) {
        EnvVar s("TALREC_VIRTUAL_SOURCE", bad);
        EXPECT_EQ(QueryIn(kFormat), MMSYSERR_NODRIVER) << bad;
    }
    for (const char* bad : {"0", "-1", "fast"}) {
        EnvVar s("TALREC_VIRTUAL_SPEED", bad);
        EXPECT_EQ(QueryIn(kFormat), MMSYSERR_NODRIVER) << bad;
    }
    {
        EnvVar s("TALREC_VIRTUAL_SINK", "speaker");
        EXPECT_EQ(QueryOut(kFormat), MMSYSERR_NODRIVER);
    }
    EnvVar s("TALREC_VIRTUAL_SOURCE", "file:/nonexistent/talrec.wav");
    EXPECT_EQ(QueryIn(kFormat), MMSYSERR_NODRIVER);
}

// The results stay as they are (the tests above); the person running the program is told, once,
// which device did not open and why, or which format it refused. Probes are quiet.
TEST(WaveFront, AFailedOpenSaysOnTheDebugOutputWhatFailed) {
    wavetest::DebugLines debug;
    {
        EnvVar d("TALREC_WAVE_DEVICE", "bogus");
        EXPECT_EQ(QueryIn(kFormat), MMSYSERR_NODRIVER);
        EXPECT_THAT(
            debug.Take(),
            ElementsAre(StartsWith("waveInOpen: TALREC_WAVE_DEVICE=bogus names no device")));
    }
    {
        EnvVar s("TALREC_VIRTUAL_SOURCE", "noise");
        HWAVEIN in = nullptr;
        EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
        EXPECT_THAT(debug.Take(),
                    ElementsAre("waveInOpen: virtual does not open (TALREC_VIRTUAL_SOURCE=noise "
                                "is not silence, tone:FREQ[:AMPLITUDE] or file:PATH)"));
    }
    WAVEFORMATEX f = kFormat;
    f.wFormatTag = 3;
    EXPECT_EQ(QueryOut(f), WAVERR_BADFORMAT);
    EXPECT_THAT(debug.Take(),
                ElementsAre("waveOutOpen: virtual refuses the format tag 3, 2 channels, 22050 Hz, "
                            "16 bits"));

    const std::string path = wavetest::ScratchPath("mono-source.wav");
    wavetest::WriteWav(path, Pcm(1, 11025, 16), wavetest::Counting16(100));
    EnvVar s("TALREC_VIRTUAL_SOURCE", "file:" + path);
    EXPECT_EQ(QueryIn(kFormat), WAVERR_BADFORMAT);
    EXPECT_THAT(debug.Take(), ElementsAre("waveInOpen: virtual refuses the format 2 channels, "
                                          "22050 Hz, 16 bits"));
    WAVEINCAPSA caps;
    ASSERT_EQ(waveInGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.dwFormats, WAVE_FORMAT_1M16);
    EXPECT_EQ(QueryIn(Pcm(1, 11025, 16)), MMSYSERR_NOERROR);
    EXPECT_THAT(debug.Take(), IsEmpty()) << "the capability probes and a success say nothing";
}

TEST(WaveFront, TheDeviceListMarksWhatTheSettingSelects) {
    const auto selected = [](bool capture) {
        std::vector<std::string> marked;
        for (const auto& e : talrec::platform::ListWaveDevices(capture))
            if (e.selected) marked.push_back(e.setting);
        return marked;
    };
    EXPECT_THAT(selected(true), ElementsAre("virtual"));
    {
        EnvVar d("TALREC_WAVE_DEVICE", "alsa:talrec_unlisted");
        const auto list = talrec::platform::ListWaveDevices(false);
        ASSERT_FALSE(list.empty());
        EXPECT_EQ(list[0].setting, "alsa:talrec_unlisted") << "named though not listed";
        EXPECT_THAT(selected(false), IsEmpty()) << "and not marked, as it does not open";
    }
    EnvVar d("TALREC_WAVE_DEVICE", "virtual:x");
    EXPECT_THAT(selected(true), IsEmpty());
    EXPECT_EQ(talrec::platform::SelectedWaveDevice(), "virtual:x");
}

TEST(WaveFront, AFileSourceTakesOnlyItsOwnFormat) {
    const std::string path = wavetest::ScratchPath("mono.wav");
    wavetest::WriteWav(path, Pcm(1, 11025, 16), wavetest::Counting16(100));
    EnvVar s("TALREC_VIRTUAL_SOURCE", "file:" + path);
    EXPECT_EQ(QueryIn(Pcm(1, 11025, 16)), MMSYSERR_NOERROR);
    EXPECT_EQ(QueryIn(kFormat), WAVERR_BADFORMAT);
    EXPECT_EQ(QueryIn(Pcm(1, 11025, 8)), WAVERR_BADFORMAT);
    HWAVEIN in = nullptr;
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    // Playback does not read the source.
    EXPECT_EQ(QueryOut(kFormat), MMSYSERR_NOERROR);
}

TEST(WaveFront, EveryResultCodeHasATextInBothDirections) {
    const MMRESULT codes[] = {MMSYSERR_NOERROR,    MMSYSERR_ERROR,      MMSYSERR_BADDEVICEID,
                              MMSYSERR_NOTENABLED, MMSYSERR_ALLOCATED,  MMSYSERR_INVALHANDLE,
                              MMSYSERR_NODRIVER,   MMSYSERR_NOMEM,      MMSYSERR_NOTSUPPORTED,
                              MMSYSERR_BADERRNUM,  MMSYSERR_INVALFLAG,  MMSYSERR_INVALPARAM,
                              MMSYSERR_HANDLEBUSY, MMSYSERR_NODRIVERCB, WAVERR_BADFORMAT,
                              WAVERR_STILLPLAYING, WAVERR_UNPREPARED,   WAVERR_SYNC};
    std::set<std::string> seen;
    for (MMRESULT c : codes) {
        char in[MAXERRORLENGTH], out[MAXERRORLENGTH];
        ASSERT_EQ(waveInGetErrorTextA(c, in, MAXERRORLENGTH), MMSYSERR_NOERROR) << c;
        ASSERT_EQ(waveOutGetErrorTextA(c, out, MAXERRORLENGTH), MMSYSERR_NOERROR) << c;
        EXPECT_GT(std::strlen(in), 0u);
        EXPECT_STREQ(in, out);
        EXPECT_TRUE(seen.insert(in).second) << "duplicate text for " << c;
    }
    char text[MAXERRORLENGTH];
    EXPECT_EQ(waveInGetErrorTextA(13, text, MAXERRORLENGTH), MMSYSERR_BADERRNUM);
    EXPECT_EQ(waveOutGetErrorTextA(WAVERR_BASE + 4, text, MAXERRORLENGTH), MMSYSERR_BADERRNUM);
    EXPECT_EQ(waveInGetErrorTextA(MMSYSERR_ERROR, nullptr, 10), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInGetErrorTextA(MMSYSERR_ERROR, text, 0), MMSYSERR_INVALPARAM);
    // A short buffer gets the beginning of the text, terminated.
    char small[6];
    std::memset(small, 'x', sizeof small);
    ASSERT_EQ(waveOutGetErrorTextA(WAVERR_BADFORMAT, small, sizeof small), MMSYSERR_NOERROR);
    EXPECT_EQ(std::strlen(small), 5u);
}

TEST(WaveFront, CapabilitiesNameTheDeviceAndItsFormats) {
    WAVEINCAPSA in;
    ASSERT_EQ(waveInGetDevCapsA(WAVE_MAPPER, &in, sizeof in), MMSYSERR_NOERROR);
    EXPECT_STREQ(in.szPname, "talrec virtual device");
    EXPECT_EQ(in.dwFormats, 0xFFFu);
    EXPECT_EQ(in.wChannels, 2);
    WAVEOUTCAPSA out;
    ASSERT_EQ(waveOutGetDevCapsA(0, &out, sizeof out), MMSYSERR_NOERROR);
    EXPECT_EQ(out.dwFormats, 0xFFFu);
    EXPECT_EQ(waveOutGetDevCapsA(1, &out, sizeof out), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutGetDevCapsA(0, nullptr, sizeof out), MMSYSERR_INVALPARAM);
}

TEST(WaveFront, OpenAndCloseAreAnnouncedToTheCallback) {
    Recorder rin, rout;
    HWAVEIN in = nullptr;
    ASSERT_EQ(
        waveInOpen(&in, WAVE_MAPPER, &kFormat, rin.InProc(), rin.Instance(), CALLBACK_FUNCTION),
        MMSYSERR_NOERROR);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &kFormat, rout.OutProc(), rout.Instance(),
                          CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    auto ein = rin.Events();
    ASSERT_EQ(ein.size(), 2u);
    EXPECT_EQ(ein[0].msg, WIM_OPEN);
    EXPECT_EQ(ein[1].msg, WIM_CLOSE);
    auto eout = rout.Events();
    ASSERT_EQ(eout.size(), 2u);
    EXPECT_EQ(eout[0].msg, WOM_OPEN);
    EXPECT_EQ(eout[1].msg, WOM_CLOSE);
}

}  // namespace
