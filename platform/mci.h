// The media control service: mciSendCommandA with its published commands, flags, records,
// mode codes and error codes. One device type is served, "MPEGVideo": it plays the audio of
// any file FFmpeg reads (WAV, WMA, MP3, Ogg, FLAC, the sound track of a video ...) through the
// wave-audio output (platform/mmwave.h).
//
// Contract the callers rely on:
// - Every successful MCI_OPEN gives a device identifier never given before in the process.
//   Commands to an identifier that is not open (never opened, closed, or 0) fail with
//   MCIERR_INVALID_DEVICE_ID and change nothing.
// - Commands may come from any thread; commands to one device are carried out one at a time.
//   MCI_PLAY and MCI_PAUSE return at once (MCI_WAIT is honoured only by MCI_PLAY, which then
//   returns when the sound has played to its end, or when another thread pauses or stops it).
//   MCI_NOTIFY is accepted; a callback window is never sent a message.
// - Playing runs on a thread of the device's own; the wave output's callback thread only
//   hands finished buffers back to it. No callback of this service runs caller code.
// - Modes (MCI_STATUS_MODE): MCI_MODE_STOP after open and once the last sample has been
//   played by the wave output (or after a seek), MCI_MODE_PLAY while playing, MCI_MODE_PAUSE
//   after MCI_PAUSE until the next MCI_PLAY, which resumes at the sample where it paused.
// - Times (MCI_STATUS_LENGTH, MCI_STATUS_POSITION, dwFrom/dwTo) are in milliseconds.
// - MCI_RECORD and MCI_SAVE are refused with MCIERR_UNSUPPORTED_FUNCTION.
// - A file that MCI_OPEN cannot open or decode is named once on the debug output
//   (OutputDebugStringA), with FFmpeg's words when FFmpeg refused it; the result is unchanged.
#pragma once

#ifdef _WIN32
#include "platform/win32/sdk.h"
#else
#include "platform/windef.h"

using MCIERROR = DWORD;
using MCIDEVICEID = UINT;

inline constexpr MCIDEVICEID MCI_ALL_DEVICE_ID = static_cast<MCIDEVICEID>(-1);

// Commands.
inline constexpr UINT MCI_OPEN = 0x0803;
inline constexpr UINT MCI_CLOSE = 0x0804;
inline constexpr UINT MCI_PLAY = 0x0806;
inline constexpr UINT MCI_SEEK = 0x0807;
inline constexpr UINT MCI_STOP = 0x0808;
inline constexpr UINT MCI_PAUSE = 0x0809;
inline constexpr UINT MCI_RECORD = 0x080F;
inline constexpr UINT MCI_SYSINFO = 0x0810;
inline constexpr UINT MCI_SAVE = 0x0813;
inline constexpr UINT MCI_STATUS = 0x0814;
inline constexpr UINT MCI_RESUME = 0x0855;

// Flags common to every command.
inline constexpr DWORD MCI_NOTIFY = 0x00000001;
inline constexpr DWORD MCI_WAIT = 0x00000002;
inline constexpr DWORD MCI_FROM = 0x00000004;
inline constexpr DWORD MCI_TO = 0x00000008;

// MCI_OPEN flags.
inline constexpr DWORD MCI_OPEN_SHAREABLE = 0x00000100;
inline constexpr DWORD MCI_OPEN_ELEMENT = 0x00000200;
inline constexpr DWORD MCI_OPEN_ALIAS = 0x00000400;
inline constexpr DWORD MCI_OPEN_ELEMENT_ID = 0x00000800;
inline constexpr DWORD MCI_OPEN_TYPE_ID = 0x00001000;
inline constexpr DWORD MCI_OPEN_TYPE = 0x00002000;

// MCI_SEEK flags.
inline constexpr DWORD MCI_SEEK_TO_START = 0x00000100;
inline constexpr DWORD MCI_SEEK_TO_END = 0x00000200;

// MCI_STATUS flags and items.
inline constexpr DWORD MCI_STATUS_ITEM = 0x00000100;
inline constexpr DWORD MCI_STATUS_START = 0x00000200;
inline constexpr DWORD MCI_STATUS_LENGTH = 0x00000001;
inline constexpr DWORD MCI_STATUS_POSITION = 0x00000002;
inline constexpr DWORD MCI_STATUS_NUMBER_OF_TRACKS = 0x00000003;
inline constexpr DWORD MCI_STATUS_MODE = 0x00000004;
inline constexpr DWORD MCI_STATUS_MEDIA_PRESENT = 0x00000005;
inline constexpr DWORD MCI_STATUS_TIME_FORMAT = 0x00000006;
inline constexpr DWORD MCI_STATUS_READY = 0x00000007;

// MCI_RECORD and MCI_SAVE flags.
inline constexpr DWORD MCI_RECORD_INSERT = 0x00000100;
inline constexpr DWORD MCI_RECORD_OVERWRITE = 0x00000200;
inline constexpr DWORD MCI_SAVE_FILE = 0x00000100;

// MCI_SYSINFO flags.
inline constexpr DWORD MCI_SYSINFO_QUANTITY = 0x00000100;
inline constexpr DWORD MCI_SYSINFO_OPEN = 0x00000200;

inline constexpr DWORD MCI_FORMAT_MILLISECONDS = 0;

// Mode codes, the answers to MCI_STATUS_MODE.
inline constexpr DWORD MCI_STRING_OFFSET = 512;
inline constexpr DWORD MCI_MODE_NOT_READY = MCI_STRING_OFFSET + 12;  // 524
inline constexpr DWORD MCI_MODE_STOP = MCI_STRING_OFFSET + 13;       // 525
inline constexpr DWORD MCI_MODE_PLAY = MCI_STRING_OFFSET + 14;       // 526
inline constexpr DWORD MCI_MODE_RECORD = MCI_STRING_OFFSET + 15;     // 527
inline constexpr DWORD MCI_MODE_SEEK = MCI_STRING_OFFSET + 16;       // 528
inline constexpr DWORD MCI_MODE_PAUSE = MCI_STRING_OFFSET + 17;      // 529
inline constexpr DWORD MCI_MODE_OPEN = MCI_STRING_OFFSET + 18;       // 530

// Error codes.
inline constexpr MCIERROR MCIERR_BASE = 256;
inline constexpr MCIERROR MCIERR_INVALID_DEVICE_ID = MCIERR_BASE + 1;
inline constexpr MCIERROR MCIERR_UNRECOGNIZED_COMMAND = MCIERR_BASE + 5;
inline constexpr MCIERROR MCIERR_HARDWARE = MCIERR_BASE + 6;
inline constexpr MCIERROR MCIERR_INVALID_DEVICE_NAME = MCIERR_BASE + 7;
inline constexpr MCIERROR MCIERR_OUT_OF_MEMORY = MCIERR_BASE + 8;
inline constexpr MCIERROR MCIERR_CANNOT_LOAD_DRIVER = MCIERR_BASE + 10;
inline constexpr MCIERROR MCIERR_MISSING_PARAMETER = MCIERR_BASE + 17;
inline constexpr MCIERROR MCIERR_UNSUPPORTED_FUNCTION = MCIERR_BASE + 18;
inline constexpr MCIERROR MCIERR_FILE_NOT_FOUND = MCIERR_BASE + 19;
inline constexpr MCIERROR MCIERR_DEVICE_NOT_READY = MCIERR_BASE + 20;
inline constexpr MCIERROR MCIERR_INTERNAL = MCIERR_BASE + 21;
inline constexpr MCIERROR MCIERR_OUTOFRANGE = MCIERR_BASE + 26;
inline constexpr MCIERROR MCIERR_FLAGS_NOT_COMPATIBLE = MCIERR_BASE + 28;
inline constexpr MCIERROR MCIERR_DEVICE_TYPE_REQUIRED = MCIERR_BASE + 31;
inline constexpr MCIERROR MCIERR_INVALID_FILE = MCIERR_BASE + 40;
inline constexpr MCIERROR MCIERR_NULL_PARAMETER_BLOCK = MCIERR_BASE + 41;
inline constexpr MCIERROR MCIERR_NONAPPLICABLE_FUNCTION = MCIERR_BASE + 46;
inline constexpr MCIERROR MCIERR_FILENAME_REQUIRED = MCIERR_BASE + 48;
inline constexpr MCIERROR MCIERR_WAVE_OUTPUTSINUSE = MCIERR_BASE + 64;
inline constexpr MCIERROR MCIERR_WAVE_OUTPUTSUNSUITABLE = MCIERR_BASE + 70;

// Parameter records. Every record starts with the callback window, which this service never
// sends a message to.
struct MCI_GENERIC_PARMS {
    DWORD_PTR dwCallback;
};

struct MCI_OPEN_PARMSA {
    DWORD_PTR dwCallback;
    MCIDEVICEID wDeviceID;  // filled in by a successful MCI_OPEN
    LPCSTR lpstrDeviceType;
    LPCSTR lpstrElementName;
    LPCSTR lpstrAlias;
};
using MCI_OPEN_PARMS = MCI_OPEN_PARMSA;

struct MCI_PLAY_PARMS {
    DWORD_PTR dwCallback;
    DWORD dwFrom;
    DWORD dwTo;
};

struct MCI_SEEK_PARMS {
    DWORD_PTR dwCallback;
    DWORD dwTo;
};

struct MCI_STATUS_PARMS {
    DWORD_PTR dwCallback;
    DWORD_PTR dwReturn;
    DWORD dwItem;
    DWORD dwTrack;
};

struct MCI_RECORD_PARMS {
    DWORD_PTR dwCallback;
    DWORD dwFrom;
    DWORD dwTo;
};

struct MCI_SAVE_PARMSA {
    DWORD_PTR dwCallback;
    LPCSTR lpfilename;
};
using MCI_SAVE_PARMS = MCI_SAVE_PARMSA;

// With MCI_SYSINFO_QUANTITY the count is written as a DWORD into lpstrReturn.
struct MCI_SYSINFO_PARMSA {
    DWORD_PTR dwCallback;
    LPSTR lpstrReturn;
    DWORD dwRetSize;
    DWORD dwNumber;
    UINT wDeviceType;
};
using MCI_SYSINFO_PARMS = MCI_SYSINFO_PARMSA;

// Sends one command. dwParam points to the command's parameter record (or is 0 where the
// command takes none). Returns 0 or an MCIERR_* code.
//
// Commands served: MCI_OPEN (MCI_OPEN_TYPE with "MPEGVideo", or no type / a null type, which
// lets the file choose; MCI_OPEN_ELEMENT with the file's path, an empty path opening a device
// with no media), MCI_CLOSE (MCI_ALL_DEVICE_ID closes every device), MCI_PLAY (MCI_FROM,
// MCI_TO, MCI_WAIT), MCI_PAUSE, MCI_RESUME, MCI_STOP, MCI_SEEK (MCI_SEEK_TO_START,
// MCI_SEEK_TO_END, MCI_TO), MCI_STATUS (MCI_STATUS_ITEM with the items above),
// MCI_SYSINFO (MCI_SYSINFO_QUANTITY | MCI_SYSINFO_OPEN on MCI_ALL_DEVICE_ID: the number of
// open devices), MCI_RECORD and MCI_SAVE (refused).
MCIERROR mciSendCommandA(MCIDEVICEID IDDevice, UINT uMsg, DWORD_PTR fdwCommand, DWORD_PTR dwParam);

// Writes the text of an error code, at most cchText bytes with the terminating zero.
// Returns TRUE if the code is known, FALSE (and an empty string) if not.
BOOL mciGetErrorStringA(MCIERROR mcierr, LPSTR pszText, UINT cchText);

#endif  // _WIN32
