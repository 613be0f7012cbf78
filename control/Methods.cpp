// The scripting methods of _DTalRecorderForDvRecUp. Each handler checks at most one
// precondition, hands the request on, fires its state string before it returns, and
// returns a small result code: 0 passed on, -1 no manager yet (or a refused path or failed
// conversion), -2 already recording, 1 a deletion failed (or a refused path).
#include <new>
#include <vector>

#include "control/Interfaces.h"
#include "control/TalRecorderCtrl.h"
#include "convert/WmaConverter.h"
#include "framework/afxconv.h"
#include "platform/fileapi.h"
#include "platform/mbstring.h"
#include "platform/mci.h"
#include "platform/oleauto.h"
#include "resources/Resources.h"
#include "storage/DataFolder.h"
#include "storage/ScriptPaths.h"

using namespace talrec::control;

namespace {

// The dispatch map, built once from the interface table.
struct DispatchMap {
    std::vector<std::vector<VARTYPE>> params;
    std::vector<AFX_DISPMAP_ENTRY> entries;

    DispatchMap() {
        auto members = DispatchMembers();
        params.reserve(members.size());
        for (const Member& member : members) {
            auto& types = params.emplace_back();
            for (const Param& param : member.params) types.push_back(VarTypeOf(param.type));
            entries.push_back({member.name, member.id, member.kind == Kind::Property,
                               VarTypeOf(member.result), types.empty() ? nullptr : types.data(),
                               static_cast<UINT>(types.size())});
        }
    }
};

std::string Text(const VARIANT& arg) {
    return AfxBstrToAnsi(arg.bstrVal);
}

void ReturnLong(VARIANT* result, LONG value) {
    if (result == nullptr) return;
    result->vt = VT_I4;
    result->lVal = value;
}

void ReturnString(VARIANT* result, const std::string& value) {
    if (result == nullptr) return;
    BSTR text = AfxAllocBstr(value);
    if (text == nullptr) throw std::bad_alloc();
    result->vt = VT_BSTR;
    result->bstrVal = text;
}

}  // namespace

std::span<const AFX_DISPMAP_ENTRY> CTalRecorderForDvRecUpCtrl::GetDispatchMap() const {
    static const DispatchMap map;
    return map.entries;
}

// Whether every path argument of the member lies where scripts may name files.
bool CTalRecorderForDvRecUpCtrl::PathsAllowed(const Member& member, std::span<VARIANT> args) {
    for (std::size_t i = 0; i < member.params.size() && i < args.size(); ++i) {
        if (member.params[i].path && !IsScriptPathAllowed(Text(args[i]))) return false;
    }
    return true;
}

HRESULT CTalRecorderForDvRecUpCtrl::InvokeMember(const AFX_DISPMAP_ENTRY& entry, WORD flags,
                                                 std::span<VARIANT> args, VARIANT* result) {
    // recStart keeps its argument as the file name first, whatever follows.
    if (entry.id == DISPID_RECSTART) fileName_ = Text(args[0]);
    // The path rule, in this one place for every member whose table entry marks a path: a
    // path outside the folders a script may use is refused with the member's own failure
    // result, and nothing happens.
    if (const Member* member = FindDispatchMember(entry.id);
        member != nullptr && !PathsAllowed(*member, args)) {
        ReturnLong(result, member->refused);
        return S_OK;
    }
    switch (entry.id) {
        case DISPID_SETPCMFORMAT:
            ReturnLong(result, 0);
            break;  // the format is fixed
        case DISPID_RECORDTIMEOUT:
            recordTimeOut_ = args[0].lVal;  // kept, read by nothing: recording has no limit
            ReturnLong(result, 0);
            break;
        case DISPID_TEMPFOLDERPASS:
            if (flags == DISPATCH_PROPERTYPUT) {
                SetTempFolderPass(Text(args[0]));
            } else {
                ReturnString(result, dataFolder_);
            }
            break;
        case DISPID_RECSTART:
            ReturnLong(result, BeginRecording(fileName_));
            break;
        case DISPID_GETERRORSTRING:
            ReturnString(result, args[0].lVal == 0 ? "Succeeded" : "Failed");
            break;
        case DISPID_RECSTOP:
        case DISPID_RECORDSTOP:
            ReturnLong(result, RecordStop());
            break;
        case DISPID_RECORDTOTALFILENAME:
            ReturnString(result, fileName_);
            break;
        case DISPID_RECORDFILENAME:
            ReturnString(result, RecordFileName());
            break;
        case DISPID_PLAYSTART:
        case DISPID_PLAYSTARTFILE:
            ReturnLong(result, BeginPlaying(Text(args[0])));
            break;
        case DISPID_PLAYSTOP_SILENT:
            ReturnLong(result, PlayStopSilently());
            break;
        case DISPID_GETDATAFOLDER:
            ReturnString(result, ComputeDataFolder());
            break;
        case DISPID_RECORDSTARTFILE:
            ReturnLong(result, BeginRecording(Text(args[0])));
            break;
        case DISPID_RECPAUSE:
        case DISPID_RECORDPAUSE:
            ReturnLong(result, RecordPause());
            break;
        case DISPID_RECORDCONTINUE:
            ReturnLong(result, RecordContinue());
            break;
        case DISPID_PLAYSTOP:
            ReturnLong(result, PlayStop());
            break;
        case DISPID_PLAYPAUSE:
            ReturnLong(result, PlayPause());
            break;
        case DISPID_PLAYCONTINUE:
            ReturnLong(result, PlayContinue());
            break;
        case DISPID_CONVERTWAVTOWMA:
            ReturnLong(result, ConvertWavToWMA(Text(args[0]), Text(args[1])));
            break;
        case DISPID_DELETEAUDIOFILEALL: {
            ScriptFileScope files;
            ReturnLong(result, DeleteAudioFileALL());
            break;
        }
        case DISPID_DELETEAUDIOFILE: {
            std::string path = Text(args[0]);
            ScriptFileScope files;
            ReturnLong(result, DeleteAudioFile(path.c_str()));
            break;
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
    return S_OK;
}

LONG CTalRecorderForDvRecUpCtrl::BeginRecording(const std::string& path) {
    if (!manager_) return -1;
    if (manager_->state == RecordPaused) {
        manager_->ResumeRecording();  // goes on into the file it was started with
        FireRecorderStateNotify("record-resume");
        return 0;
    }
    if (manager_->state == Recording) return -2;
    player_.Close();
    manager_->StartRecording(path);
    FireRecorderStateNotify("record-start");
    return 0;
}

// A file error of the save leaves here as the framework's exception: no state string. The
// file is written inside the folders scripts may use even if a part of its path has become a
// link since recStart checked it.
LONG CTalRecorderForDvRecUpCtrl::RecordStop() {
    if (!manager_) return -1;
    {
        ScriptFileScope files;
        manager_->StopRecording();
    }
    FireRecorderStateNotify("record-stop");
    return 0;
}

LONG CTalRecorderForDvRecUpCtrl::RecordPause() {
    if (!manager_) return -1;
    manager_->TogglePauseRecording();
    FireRecorderStateNotify("record-pause");  // in both directions of the toggle
    return 0;
}

LONG CTalRecorderForDvRecUpCtrl::RecordContinue() {
    if (!manager_) return -1;
    manager_->ResumeRecording();
    FireRecorderStateNotify("record-resume");
    return 0;
}

// Before the window exists there is no manager, and no timer to report the end of a
// playback: the call is refused like the recording methods.
LONG CTalRecorderForDvRecUpCtrl::BeginPlaying(const std::string& path) {
    if (!manager_) return -1;
    if (manager_->state == Recording) {
        ScriptFileScope files;
        manager_->StopRecording();  // written, no "record-stop"
    }
    if (player_.GetMode() == MCI_MODE_PAUSE) {
        player_.Play();
        FireRecorderStateNotify("play-resume");
        return 0;
    }
    fileName_ = path;
    player_.Close();
    player_.Open(path.c_str());
    player_.Play();
    FireRecorderStateNotify("play-start");
    return 0;
}

LONG CTalRecorderForDvRecUpCtrl::PlayStopSilently() {
    player_.Close();
    return 0;
}

LONG CTalRecorderForDvRecUpCtrl::PlayStop() {
    player_.Close();
    FireRecorderStateNotify("play-stop");
    return 0;
}

LONG CTalRecorderForDvRecUpCtrl::PlayPause() {
    player_.Pause();
    FireRecorderStateNotify("play-pause");
    return 0;
}

LONG CTalRecorderForDvRecUpCtrl::PlayContinue() {
    player_.Play();
    FireRecorderStateNotify("play-resume");
    return 0;
}

// The file-name part of the last path given: what follows the last separator (a separator
// byte inside a multibyte character does not count); empty when the only separator is the
// first character.
std::string CTalRecorderForDvRecUpCtrl::RecordFileName() const {
    const char* text = fileName_.c_str();
    const char* last = AfxStrRChrMB(text, PATH_SEPARATOR);
    if (last == nullptr) return fileName_;
    if (last == text) return {};
    return std::string(last + 1);
}

// The setter stores nothing: an existing folder marks the control modified, anything else
// is shown in a message box, the string table's text in the ANSI code page with the value in
// place of its "%s". A folder outside those scripts may name files in counts as no folder, so
// that a page cannot probe which folders exist elsewhere.
void CTalRecorderForDvRecUpCtrl::SetTempFolderPass(const std::string& value) {
    DWORD attributes = GetFileAttributesA(value.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        IsScriptFolderAllowed(value)) {
        SetModifiedFlag();
        return;
    }
    std::string text =
        talrec::resources::LoadAnsiString(talrec::resources::IDS_TEMPFOLDERPASS_NOT_FOLDER);
    if (std::size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, value);
    AfxMessageBox(text.c_str(), MB_OK);
}

LONG CTalRecorderForDvRecUpCtrl::ConvertWavToWMA(const std::string& source,
                                                 const std::string& dest) {
    ScriptFileScope files;
    return ConvertWavFile(source.c_str(), dest.c_str()) < 0 ? -1 : 0;
}
