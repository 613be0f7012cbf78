// The wave-audio service: waveIn* and waveOut* with their published names, records, messages
// and result codes. Implemented over ALSA or the virtual device (TALREC_WAVE_DEVICE).
//
// Contract the callers rely on:
// - A device opened with CALLBACK_FUNCTION calls its callback on one device thread of its
//   own (one per open device): WIM_OPEN/WOM_OPEN at open, WIM_DATA/WOM_DONE for each buffer,
//   WIM_CLOSE/WOM_CLOSE at close. Buffers come back one at a time, in the order they were
//   queued, each with WHDR_DONE set (and, for capture, dwBytesRecorded filled in).
// - Calls made from inside the callback on the same device (unprepare, prepare, add buffer,
//   write) work.
// - waveInStop hands back the buffer being filled with what it holds and keeps the rest
//   queued; waveInReset / waveOutReset hand back every queued buffer and return only after
//   the callbacks for them have finished.
// - WAVE_FORMAT_QUERY opens nothing that stays open and answers the same for the same
//   device and format.
// - A failure that the caller's results do not show is said once on the debug output
//   (OutputDebugStringA): a device that does not open or refuses the format, at the open or
//   query; a device lost while running, with the seconds of sound it delivered.
// - Positions are in samples (TIME_SAMPLES): frames captured, or heard, since the device was
//   opened or last reset. A playback buffer is done once its frames have been heard (not
//   merely handed to the sound system), so the last buffer of a sound is not cut short.
// - dwFlags of a queued header is written by the device thread; read it with
//   std::atomic_ref while the header may be queued (the device stores it with release order).
// - What the front checks (every call): the handle (MMSYSERR_INVALHANDLE for an unknown, closed
//   or wrong-direction handle), null records and record sizes (MMSYSERR_INVALPARAM), header
//   states (WAVERR_UNPREPARED, WAVERR_STILLPLAYING), open flags (MMSYSERR_INVALFLAG) and the
//   PCM format record (WAVERR_BADFORMAT unless tag, width, block align and byte rate agree).
//   A backend checks only what its device grants.
// - A device that is lost (unplugged, sound server gone) hands back every queued buffer, the
//   capture buffer being filled with what it holds (the sound until the loss); after that
//   adding a buffer, writing or starting fails with MMSYSERR_NODRIVER, and reset and close
//   still work. waveInClose/waveOutClose fail with WAVERR_STILLPLAYING while buffers are
//   queued, and with MMSYSERR_HANDLEBUSY when called from the device's own callback.
// - waveOutReset also ends a pause.
//
// Backends, chosen at each open by TALREC_WAVE_DEVICE (an unknown value fails the open with
// MMSYSERR_NODRIVER, and the device count is 0; nothing falls back to another backend):
// - "alsa" (the default; absent from a build without ALSA, where it is an unknown value): the
//   ALSA PCM "default"; "alsa:NAME": the ALSA PCM NAME. The device must grant exactly the
//   rate, width and channel count asked for, else WAVERR_BADFORMAT.
// - "virtual": a clock-driven software device. Its source (TALREC_VIRTUAL_SOURCE) is
//   "silence", "tone:FREQ[:AMPLITUDE]" (sample n of every channel is
//   lround(AMPLITUDE * FULL * sin(2 pi FREQ n / RATE)), FULL the format's largest positive
//   value; default tone:440:0.5) or "file:PATH" (the data of a WAV file in the device's own
//   format, else WAVERR_BADFORMAT; played once, then silence). The source runs only while
//   the device is started, like a tape: stopping holds it where it is and starting goes on
//   from there, so a recording made with pauses is the source without gaps, and the tone
//   starts at n = 0 when the device is opened. Its sink (TALREC_VIRTUAL_SINK) is "discard"
//   or "file:PATH" (a WAV file in the device's format, written anew by each output device
//   opened, complete once it is closed). TALREC_VIRTUAL_SPEED runs its clock that many times
//   faster than real time.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/windef.h"

using MMRESULT = UINT;
struct HWAVEIN__;
struct HWAVEOUT__;
using HWAVEIN = HWAVEIN__*;
using HWAVEOUT = HWAVEOUT__*;
using LPHWAVEIN = HWAVEIN*;
using LPHWAVEOUT = HWAVEOUT*;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT MMSYSERR_HANDLEBUSY = 12;
inline constexpr MMRESULT MMSYSERR_NODRIVERCB = 20;
inline constexpr MMRESULT WAVERR_BASE = 32;
inline constexpr MMRESULT WAVERR_BADFORMAT = WAVERR_BASE + 0;
inline constexpr MMRESULT WAVERR_STILLPLAYING = WAVERR_BASE + 1;
inline constexpr MMRESULT WAVERR_UNPREPARED = WAVERR_BASE + 2;
inline constexpr MMRESULT WAVERR_SYNC = WAVERR_BASE + 3;

inline constexpr UINT MAXERRORLENGTH = 256;
inline constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);

// waveInOpen / waveOutOpen flags.
inline constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
inline constexpr DWORD CALLBACK_NULL = 0x00000000;
inline constexpr DWORD CALLBACK_FUNCTION = 0x00030000;

inline constexpr WORD WAVE_FORMAT_PCM = 1;

// Messages given to the callback.
inline constexpr UINT MM_WOM_OPEN = 0x3BB;
inline constexpr UINT MM_WOM_CLOSE = 0x3BC;
inline constexpr UINT MM_WOM_DONE = 0x3BD;
inline constexpr UINT MM_WIM_OPEN = 0x3BE;
inline constexpr UINT MM_WIM_CLOSE = 0x3BF;
inline constexpr UINT MM_WIM_DATA = 0x3C0;
inline constexpr UINT WOM_OPEN = MM_WOM_OPEN;
inline constexpr UINT WOM_CLOSE = MM_WOM_CLOSE;
inline constexpr UINT WOM_DONE = MM_WOM_DONE;
inline constexpr UINT WIM_OPEN = MM_WIM_OPEN;
inline constexpr UINT WIM_CLOSE = MM_WIM_CLOSE;
inline constexpr UINT WIM_DATA = MM_WIM_DATA;

// WAVEHDR flags.
inline constexpr DWORD WHDR_DONE = 0x00000001;
inline constexpr DWORD WHDR_PREPARED = 0x00000002;
inline constexpr DWORD WHDR_BEGINLOOP = 0x00000004;
inline constexpr DWORD WHDR_ENDLOOP = 0x00000008;
inline constexpr DWORD WHDR_INQUEUE = 0x00000010;

// MMTIME types.
inline constexpr UINT TIME_MS = 0x0001;
inline constexpr UINT TIME_SAMPLES = 0x0002;
inline constexpr UINT TIME_BYTES = 0x0004;

#pragma pack(push, 1)
// The 18-byte PCM format record.
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is the packed 18-byte record");
using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPCWAVEFORMATEX = const WAVEFORMATEX*;

struct WAVEHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
using LPWAVEHDR = WAVEHDR*;

struct MMTIME {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
        DWORD ticks;
        struct {
            BYTE hour, min, sec, frame, fps, dummy;
            BYTE pad[2];
        } smpte;
        struct {
            DWORD songptrpos;
        } midi;
    } u;
};
static_assert(sizeof(MMTIME) == 12, "MMTIME is 12 bytes");
using LPMMTIME = MMTIME*;

// The callback given as dwCallback with CALLBACK_FUNCTION has the published signature
//   void CALLBACK proc(HWAVEIN or HWAVEOUT, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
//                      DWORD_PTR dwParam2)
// and runs on the device's own thread; the handle is the device's.

// Device capabilities, for listing the devices.
using MMVERSION = UINT;
inline constexpr UINT MAXPNAMELEN = 32;
// Standard formats a device takes (dwFormats): rate 11025/22050/44100 (1/2/4), mono/stereo
// (M/S), 8/16 bits.
inline constexpr DWORD WAVE_FORMAT_1M08 = 0x00000001;
inline constexpr DWORD WAVE_FORMAT_1S08 = 0x00000002;
inline constexpr DWORD WAVE_FORMAT_1M16 = 0x00000004;
inline constexpr DWORD WAVE_FORMAT_1S16 = 0x00000008;
inline constexpr DWORD WAVE_FORMAT_2M08 = 0x00000010;
inline constexpr DWORD WAVE_FORMAT_2S08 = 0x00000020;
inline constexpr DWORD WAVE_FORMAT_2M16 = 0x00000040;
inline constexpr DWORD WAVE_FORMAT_2S16 = 0x00000080;
inline constexpr DWORD WAVE_FORMAT_4M08 = 0x00000100;
inline constexpr DWORD WAVE_FORMAT_4S08 = 0x00000200;
inline constexpr DWORD WAVE_FORMAT_4M16 = 0x00000400;
inline constexpr DWORD WAVE_FORMAT_4S16 = 0x00000800;

struct WAVEINCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
};
struct WAVEOUTCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
    DWORD dwSupport;
};
using LPWAVEINCAPSA = WAVEINCAPSA*;
using LPWAVEOUTCAPSA = WAVEOUTCAPSA*;

// One device of each direction (index 0, also reached through WAVE_MAPPER) when
// TALREC_WAVE_DEVICE names a known backend, none otherwise.
UINT waveInGetNumDevs();
MMRESULT waveInGetDevCapsA(UINT_PTR uDeviceID, LPWAVEINCAPSA pwic, UINT cbwic);
MMRESULT waveInOpen(LPHWAVEIN phwi, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveInClose(HWAVEIN hwi);
MMRESULT waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveInStart(HWAVEIN hwi);
MMRESULT waveInStop(HWAVEIN hwi);
MMRESULT waveInReset(HWAVEIN hwi);
MMRESULT waveInGetPosition(HWAVEIN hwi, LPMMTIME pmmt, UINT cbmmt);
MMRESULT waveInGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText);

UINT waveOutGetNumDevs();
MMRESULT waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc);
MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveOutClose(HWAVEOUT hwo);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt);
MMRESULT waveOutGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText);

#endif  // _WIN32
