#include "control/Interfaces.h"

#include "control/TalRecorderCtrl.h"

namespace talrec::control {
namespace {

using Ctrl = CTalRecorderForDvRecUpCtrl;

constexpr Param kFormat[] = {{"format", Type::Bstr}};
constexpr Param kTimeOut[] = {{"timeOut", Type::Long}};
constexpr Param kFullPathName[] = {{"fullPathName", Type::Bstr, true}};
constexpr Param kErrorCode[] = {{"errorCode", Type::Long}};
constexpr Param kFilePath[] = {{"filePath", Type::Bstr, true}};
constexpr Param kSourceDest[] = {{"source", Type::Bstr, true}, {"dest", Type::Bstr, true}};
constexpr Param kState[] = {{"state", Type::Bstr}};
constexpr Param kVol[] = {{"vol", Type::Long}};

// Where a path argument may lie, said once for the descriptions.
#define PATH_RULE "inside the data folder or a folder the host grants"
#define NO_MANAGER "-1 before the control's window exists"

// Members that do the same as another share its text, so each says its results and events.
#define RECORD_STOP_DOC                                                                      \
    "Stops the recording, writes its WAV file and fires \"record-stop\" (also when nothing " \
    "was recording). Returns 0; " NO_MANAGER                                                 \
    ". When the file cannot be written the call fails "                                      \
    "with DISP_E_EXCEPTION and fires nothing."
#define RECORD_PAUSE_DOC                                                                        \
    "Toggles: pauses a running recording, resumes a paused one, and fires \"record-pause\" in " \
    "both directions (also when nothing records). Returns 0; " NO_MANAGER "."
#define PLAY_START_DOC                                                                           \
    "Plays the sound file and fires \"play-start\"; while a file is paused it resumes that one " \
    "instead, whatever the path, and fires \"play-resume\". A running recording is stopped and " \
    "written first, without \"record-stop\". Returns 0 (whether the file plays is not "          \
    "reported); " NO_MANAGER " or for a path that is not " PATH_RULE                             \
    " (no event). At the "                                                                       \
    "file's end EvtPlayStop and then \"play-complete\" follow."

constexpr Member kDispatch[] = {
    {.id = DISPID_TEMPFOLDERPASS,
     .name = "TempFolderPass",
     .typeLibName = "TempFolderPass",
     .kind = Kind::Property,
     .result = Type::Bstr,
     .params = {},
     .handler = &Ctrl::GetTempFolderPass,
     .setter = &Ctrl::SetTempFolderPass,
     .doc = "The data folder with a trailing separator (empty before the control's window "
            "exists). Setting it stores nothing: a value that is not an existing folder " PATH_RULE
            " shows a message box; the getter keeps its value. Fires nothing."},
    {.id = DISPID_SETPCMFORMAT,
     .name = "SetPcmFormat",
     .typeLibName = "SetPcmFormat",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = kFormat,
     .handler = &Ctrl::SetPcmFormat,
     .doc = "Returns 0 and changes nothing: the recording format is fixed (PCM, 16-bit stereo, "
            "22050 Hz). Fires nothing."},
    {.id = DISPID_RECORDTIMEOUT,
     .name = "RecordTimeOut",
     .typeLibName = "RecordTimeOut",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = kTimeOut,
     .handler = &Ctrl::RecordTimeOut,
     .doc = "Keeps the value and returns 0; nothing reads it: a recording is not limited in "
            "time and EvtRecordTimeOut never fires. Fires nothing."},
    {.id = DISPID_RECSTART,
     .name = "recStart",
     .typeLibName = "recStart",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = kFullPathName,
     .refused = -1,
     .handler = &Ctrl::RecStart,
     .doc = "Starts recording into the WAV file at the path (written when the recording stops) "
            "and fires \"record-start\"; on a paused recording it resumes that one instead and "
            "fires \"record-resume\". Returns 0; -2 while a recording runs; " NO_MANAGER
            " or for a path that is not " PATH_RULE " (no event). Unlike RecordStartFile it "
            "first keeps the path as RecordTotalFileName, whatever the result."},
    {.id = DISPID_GETERRORSTRING,
     .name = "GetErrorString",
     .typeLibName = "GetErrorString",
     .kind = Kind::Method,
     .result = Type::Bstr,
     .params = kErrorCode,
     .handler = &Ctrl::GetErrorString,
     .doc = "\"Succeeded\" for 0, \"Failed\" for any other result code. Fires nothing."},
    {.id = DISPID_RECSTOP,
     .name = "recStop",
     .typeLibName = "recStop",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = {},
     .handler = &Ctrl::RecordStop,
     .doc = RECORD_STOP_DOC " The same as RecordStop."},
    {.id = DISPID_RECORDTOTALFILENAME,
     .name = "RecordTotalFileName",
     .typeLibName = "RecordTotalFileName",
     .kind = Kind::Method,
     .result = Type::Bstr,
     .params = {},
     .handler = &Ctrl::RecordTotalFileName,
     .doc = "The last path given to recStart, or to a playback that opened a new file. Fires "
            "nothing."},
    {.id = DISPID_RECORDFILENAME,
     .name = "RecordFileName",
     .typeLibName = "RecordFileName",
     .kind = Kind::Method,
     .result = Type::Bstr,
     .params = {},
     .handler = &Ctrl::RecordFileName,
     .doc = "The file-name part of RecordTotalFileName: what follows its last separator. Fires "
            "nothing."},
    {.id = DISPID_PLAYSTART,
     .name = "playStart",
     .typeLibName = "playStart",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = kFullPathName,
     .refused = -1,
     .handler = &Ctrl::PlayStart,
     .doc = PLAY_START_DOC " The same as PlayStartFile."},
    {.id = DISPID_PLAYSTOP_SILENT,
     .name = "playStop",
     .typeLibName = "playStop",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = {},
     .handler = &Ctrl::PlayStopSilently,
     .doc = "Stops playback and closes the file; returns 0 and fires nothing, unlike PlayStop, "
            "which fires \"play-stop\"."},
    {.id = DISPID_GETDATAFOLDER,
     .name = "GetDataFolder",
     .typeLibName = "GetDataFolder",
     .kind = Kind::Method,
     .result = Type::Bstr,
     .params = {},
     .handler = &Ctrl::GetDataFolder,
     .doc = "The data folder, without a trailing separator: where scripts record, play, "
            "convert and delete files. Created when missing. Fires nothing."},
    {.id = DISPID_RECORDSTARTFILE,
     .name = "RecordStartFile",
     .typeLibName = "RecordStartFile",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = kFilePath,
     .refused = -1,
     .handler = &Ctrl::RecordStartFile,
     .doc = "Starts recording into the WAV file at the path (written when the recording stops) "
            "and fires \"record-start\"; on a paused recording it resumes that one instead and "
            "fires \"record-resume\". Returns 0; -2 while a recording runs; " NO_MANAGER
            " or for a path that is not " PATH_RULE " (no event). Unlike recStart it leaves "
            "RecordTotalFileName as it was."},
    {.id = DISPID_RECORDSTOP,
     .name = "RecordStop",
     .typeLibName = "RecordStop",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = {},
     .handler = &Ctrl::RecordStop,
     .doc = RECORD_STOP_DOC " The same as recStop."},
    {.id = DISPID_RECPAUSE,
     .name = "RecPause",
     .typeLibName = "RecPause",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = {},
     .handler = &Ctrl::RecordPause,
     .doc = RECORD_PAUSE_DOC " The same as RecordPause; RecordContinue only resumes."},
    {.id = DISPID_RECORDCONTINUE,
     .name = "RecordContinue",
     .typeLibName = "RecordContinue",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = {},
     .handler = &Ctrl::RecordContinue,
     .doc = "Resumes a paused recording and fires \"record-resume\" (also when nothing was "
            "paused). Returns 0; " NO_MANAGER ". Unlike RecordPause it never pauses."},
    {.id = DISPID_RECORDPAUSE,
     .name = "RecordPause",
     .typeLibName = "RecordPause",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = {},
     .handler = &Ctrl::RecordPause,
     .doc = RECORD_PAUSE_DOC " The same as RecPause; RecordContinue only resumes."},
    {.id = DISPID_PLAYSTARTFILE,
     .name = "PlayStartFile",
     .typeLibName = "PlayStartFile",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = kFilePath,
     .refused = -1,
     .handler = &Ctrl::PlayStart,
     .doc = PLAY_START_DOC " The same as playStart."},
    {.id = DISPID_PLAYSTOP,
     .name = "PlayStop",
     .typeLibName = "PlayStopOrg",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = {},
     .handler = &Ctrl::PlayStop,
     .doc = "Stops playback, closes the file and fires \"play-stop\" (also when nothing "
            "plays). Returns 0. playStop does the same without an event."},
    {.id = DISPID_PLAYPAUSE,
     .name = "PlayPause",
     .typeLibName = "PlayPause",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = {},
     .handler = &Ctrl::PlayPause,
     .doc = "Pauses playback and fires \"play-pause\" (also when nothing plays). Returns 0."},
    {.id = DISPID_PLAYCONTINUE,
     .name = "PlayContinue",
     .typeLibName = "PlayContinue",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = {},
     .handler = &Ctrl::PlayContinue,
     .doc = "Resumes paused playback and fires \"play-resume\" (also when nothing was "
            "paused). Returns 0."},
    {.id = DISPID_CONVERTWAVTOWMA,
     .name = "ConvertWavToWMA",
     .typeLibName = "ConvertWavToWMA",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = kSourceDest,
     .refused = -1,
     .handler = &Ctrl::ConvertWavToWMA,
     .doc = "Converts the WAV file `source` into the WMA file `dest` (WMA 2 in ASF, 128 kbit/s "
            "stereo, 64 kbit/s mono) and returns 0; -1 when the conversion fails or a path is "
            "not " PATH_RULE ". Fires nothing; it may run while a recording runs."},
    {.id = DISPID_DELETEAUDIOFILEALL,
     .name = "DeleteAudioFileALL",
     .typeLibName = "DeleteAudioFileALL",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = {},
     .handler = &Ctrl::DeleteAudioFileALL,
     .doc = "Deletes every file directly in the data folder, of any type; sub-folders stay. "
            "Returns 0, or 1 when any file could not be deleted (the others are deleted). "
            "Fires nothing."},
    {.id = DISPID_DELETEAUDIOFILE,
     .name = "DeleteAudioFile",
     .typeLibName = "DeleteAudioFile",
     .kind = Kind::Method,
     .result = Type::Long,
     .params = kFilePath,
     .refused = 1,
     .handler = &Ctrl::DeleteAudioFile,
     .doc = "Deletes the file and returns 0; 1 when it cannot be deleted (missing, a folder, in "
            "use, playing) or the path is not " PATH_RULE ". Fires nothing."},
};

constexpr Member kEvents[] = {
    {.id = EVENTID_EVTRECORDTIMEOUT,
     .name = "EvtRecordTimeOut",
     .typeLibName = "EvtRecordTimeOut",
     .kind = Kind::Method,
     .result = Type::Void,
     .params = {},
     .doc = "Declared, never fired: a recording is not limited in time."},
    {.id = EVENTID_EVTPLAYSTOP,
     .name = "EvtPlayStop",
     .typeLibName = "EvtPlayStop",
     .kind = Kind::Method,
     .result = Type::Void,
     .params = {},
     .doc = "A played file has reached its end; \"play-complete\" follows at once."},
    {.id = EVENTID_RECORDERSTATENOTIFY,
     .name = "RecorderStateNotify",
     .typeLibName = "RecorderStateNotify",
     .kind = Kind::Method,
     .result = Type::Void,
     .params = kState,
     .doc = "The state after a recording or playback request, before the call's result: "
            "\"record-start\", \"record-pause\", \"record-resume\", \"record-stop\", "
            "\"play-start\", \"play-pause\", \"play-resume\", \"play-stop\", \"play-complete\"."},
    {.id = EVENTID_VOLUMESTATUS,
     .name = "VolumeStatus",
     .typeLibName = "VolumeStatus",
     .kind = Kind::Method,
     .result = Type::Void,
     .params = kVol,
     .doc = "The input level while recording runs, 0 to 100, about 20 times a second; a few "
            "may still arrive after \"record-pause\" or \"record-stop\"."},
};

#undef RECORD_STOP_DOC
#undef RECORD_PAUSE_DOC
#undef PLAY_START_DOC
#undef PATH_RULE
#undef NO_MANAGER

}  // namespace

std::span<const Member> DispatchMembers() {
    return kDispatch;
}
std::span<const Member> EventMembers() {
    return kEvents;
}

const Member* FindDispatchMember(DISPID id) {
    for (const Member& member : kDispatch) {
        if (member.id == id) return &member;
    }
    return nullptr;
}

}  // namespace talrec::control
