#include "control/Interfaces.h"

namespace talrec::control {
namespace {

constexpr Param kFormat[] = {{"format", Type::Bstr}};
constexpr Param kTimeOut[] = {{"timeOut", Type::Long}};
constexpr Param kFullPathName[] = {{"fullPathName", Type::Bstr, true}};
constexpr Param kErrorCode[] = {{"errorCode", Type::Long}};
constexpr Param kFilePath[] = {{"filePath", Type::Bstr, true}};
constexpr Param kSourceDest[] = {{"source", Type::Bstr, true}, {"dest", Type::Bstr, true}};
constexpr Param kState[] = {{"state", Type::Bstr}};
constexpr Param kVol[] = {{"vol", Type::Long}};

constexpr Member kDispatch[] = {
    {DISPID_TEMPFOLDERPASS, "TempFolderPass", "TempFolderPass", Kind::Property, Type::Bstr, {}},
    {DISPID_SETPCMFORMAT, "SetPcmFormat", "SetPcmFormat", Kind::Method, Type::Long, kFormat},
    {DISPID_RECORDTIMEOUT, "RecordTimeOut", "RecordTimeOut", Kind::Method, Type::Long, kTimeOut},
    {DISPID_RECSTART, "recStart", "recStart", Kind::Method, Type::Long, kFullPathName, -1},
    {DISPID_GETERRORSTRING, "GetErrorString", "GetErrorString", Kind::Method, Type::Bstr,
     kErrorCode},
    {DISPID_RECSTOP, "recStop", "recStop", Kind::Method, Type::Long, {}},
    {DISPID_RECORDTOTALFILENAME,
     "RecordTotalFileName",
     "RecordTotalFileName",
     Kind::Method,
     Type::Bstr,
     {}},
    {DISPID_RECORDFILENAME, "RecordFileName", "RecordFileName", Kind::Method, Type::Bstr, {}},
    {DISPID_PLAYSTART, "playStart", "playStart", Kind::Method, Type::Long, kFullPathName, -1},
    {DISPID_PLAYSTOP_SILENT, "playStop", "playStop", Kind::Method, Type::Long, {}},
    {DISPID_GETDATAFOLDER, "GetDataFolder", "GetDataFolder", Kind::Method, Type::Bstr, {}},
    {DISPID_RECORDSTARTFILE, "RecordStartFile", "RecordStartFile", Kind::Method, Type::Long,
     kFilePath, -1},
    {DISPID_RECORDSTOP, "RecordStop", "RecordStop", Kind::Method, Type::Long, {}},
    {DISPID_RECPAUSE, "RecPause", "RecPause", Kind::Method, Type::Long, {}},
    {DISPID_RECORDCONTINUE, "RecordContinue", "RecordContinue", Kind::Method, Type::Long, {}},
    {DISPID_RECORDPAUSE, "RecordPause", "RecordPause", Kind::Method, Type::Long, {}},
    {DISPID_PLAYSTARTFILE, "PlayStartFile", "PlayStartFile", Kind::Method, Type::Long, kFilePath,
     -1},
    {DISPID_PLAYSTOP, "PlayStop", "PlayStopOrg", Kind::Method, Type::Long, {}},
    {DISPID_PLAYPAUSE, "PlayPause", "PlayPause", Kind::Method, Type::Long, {}},
    {DISPID_PLAYCONTINUE, "PlayContinue", "PlayContinue", Kind::Method, Type::Long, {}},
    {DISPID_CONVERTWAVTOWMA, "ConvertWavToWMA", "ConvertWavToWMA", Kind::Method, Type::Long,
     kSourceDest, -1},
    {DISPID_DELETEAUDIOFILEALL,
     "DeleteAudioFileALL",
     "DeleteAudioFileALL",
     Kind::Method,
     Type::Long,
     {}},
    {DISPID_DELETEAUDIOFILE, "DeleteAudioFile", "DeleteAudioFile", Kind::Method, Type::Long,
     kFilePath, 1},
};

constexpr Member kEvents[] = {
    {EVENTID_EVTRECORDTIMEOUT,
     "EvtRecordTimeOut",
     "EvtRecordTimeOut",
     Kind::Method,
     Type::Void,
     {}},
    {EVENTID_EVTPLAYSTOP, "EvtPlayStop", "EvtPlayStop", Kind::Method, Type::Void, {}},
    {EVENTID_RECORDERSTATENOTIFY, "RecorderStateNotify", "RecorderStateNotify", Kind::Method,
     Type::Void, kState},
    {EVENTID_VOLUMESTATUS, "VolumeStatus", "VolumeStatus", Kind::Method, Type::Void, kVol},
};

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
