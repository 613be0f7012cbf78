// The scripting methods of _DTalRecorderForDvRecUp: the dispatch, which finds each member's
// handler in the member table, and the handlers. Each handler checks at most one
// precondition, hands the request on, fires its state string before it returns, and
// returns a small result code: 0 passed on, -1 no manager yet (or a refused path or failed
// conversion), -2 already recording, 1 a deletion failed (or a refused path).
#include <new>
#include <vector>

#include "control/Interfaces.h"
#include "control/StateStrings.h"
#include "control/TalRecorderCtrl.h"
#include "convert/WmaConverter.h"
#include "framework/afxconv.h"
#include "framework/afxpath.h"
#include "platform/fileapi.h"
#include "platform/mci.h"
#include "platform/oleauto.h"
#include "resources/Resources.h"
#include "storage/DataFolder.h"
#include "storage/ScriptPaths.h"

using namespace talrec::control;
namespace states = talrec::states;

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

// Hands a handler's answer to the caller: an integer as VT_I4, a string as a new BSTR (never
// null; out of memory raises), nothing as nothing.
void Return(VARIANT* result, Result value) {
    if (result == nullptr) return;
    if (const LONG* number = std::get_if<LONG>(&value)) {
        result->vt = VT_I4;
        result->lVal = *number;
    } else if (const std::string* text = std::get_if<std::string>(&value)) {
        BSTR bstr = AfxAllocBstr(*text);
        if (bstr == nullptr) throw std::bad_alloc();
        result->vt = VT_BSTR;
        result->bstrVal = bstr;
    }
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
    const Member* member = FindDispatchMember(entry.id);
    if (member == nullptr) return DISP_E_MEMBERNOTFOUND;
    // recStart keeps its argument as the file name first, whatever follows.
    if (entry.id == DISPID_RECSTART) fileName_ = Text(args[0]);
    // The path rule, in this one place for every member whose table entry marks a path: a
    // path outside the folders a script may use is refused with the member's own failure
    // result, and nothing happens.
    if (!PathsAllowed(*member, args)) {
        Return(result, member->refused);
        return S_OK;
    }
    Handler handler = flags == DISPATCH_PROPERTYPUT ? member->setter : member->handler;
    if (handler == nullptr) return DISP_E_MEMBERNOTFOUND;
    Return(result, (this->*handler)(args));
    return S_OK;
}

Result CTalRecorderForDvRecUpCtrl::GetTempFolderPass(Args) {
    return dataFolder_;
}

Result CTalRecorderForDvRecUpCtrl::SetPcmFormat(Args) {
    return 0;  // the format is fixed
}

Result CTalRecorderForDvRecUpCtrl::RecordTimeOut(Args args) {
    recordTimeOut_ = args[0].lVal;  // kept, read by nothing: recording has no limit
    return 0;
}

Result CTalRecorderForDvRecUpCtrl::RecStart(Args) {
    return BeginRecording(fileName_);  // the dispatch has stored the path
}

Result CTalRecorderForDvRecUpCtrl::RecordStartFile(Args args) {
    return BeginRecording(Text(args[0]));
}

Result CTalRecorderForDvRecUpCtrl::GetErrorString(Args args) {
    return std::string(args[0].lVal == 0 ? "Succeeded" : "Failed");
}

Result CTalRecorderForDvRecUpCtrl::RecordTotalFileName(Args) {
    return fileName_;
}

Result CTalRecorderForDvRecUpCtrl::GetDataFolder(Args) {
    return ComputeDataFolder();
}

Result CTalRecorderForDvRecUpCtrl::DeleteAudioFileALL(Args) {
    ScriptFileScope files;
    return ::DeleteAudioFileALL();
}

Result CTalRecorderForDvRecUpCtrl::DeleteAudioFile(Args args) {
    const std::string path = Text(args[0]);
    ScriptFileScope files;
    return ::DeleteAudioFile(path.c_str());
}

LONG CTalRecorderForDvRecUpCtrl::BeginRecording(const std::string& path) {
    if (!manager_) return -1;
    if (manager_->state == RecordPaused) {
        manager_->ResumeRecording();  // goes on into the file it was started with
        FireRecorderStateNotify(states::kRecordResume);
        return 0;
    }
    if (manager_->state == Recording) return -2;
    player_.Close();
    manager_->StartRecording(path);
    FireRecorderStateNotify(states::kRecordStart);
    return 0;
}

// A file error of the save leaves here as the framework's exception: no state string. The
// file is written inside the folders scripts may use even if a part of its path has become a
// link since recStart checked it.
Result CTalRecorderForDvRecUpCtrl::RecordStop(Args) {
    if (!manager_) return -1;
    {
        ScriptFileScope files;
        manager_->StopRecording();
    }
    FireRecorderStateNotify(states::kRecordStop);
    return 0;
}

Result CTalRecorderForDvRecUpCtrl::RecordPause(Args) {
    if (!manager_) return -1;
    manager_->TogglePauseRecording();
    FireRecorderStateNotify(states::kRecordPause);  // in both directions of the toggle
    return 0;
}

Result CTalRecorderForDvRecUpCtrl::RecordContinue(Args) {
    if (!manager_) return -1;
    manager_->ResumeRecording();
    FireRecorderStateNotify(states::kRecordResume);
    return 0;
}

// Before the window exists there is no manager, and no timer to report the end of a
// playback: the call is refused like the recording methods.
Result CTalRecorderForDvRecUpCtrl::PlayStart(Args args) {
    if (!manager_) return -1;
    const std::string path = Text(args[0]);
    if (manager_->state == Recording) {
        ScriptFileScope files;
        manager_->StopRecording();  // written, no "record-stop"
    }
    if (player_.GetMode() == MCI_MODE_PAUSE) {
        player_.Play();
        FireRecorderStateNotify(states::kPlayResume);
        return 0;
    }
    fileName_ = path;
    player_.Close();
    player_.Open(path.c_str());
    player_.Play();
    FireRecorderStateNotify(states::kPlayStart);
    return 0;
}

Result CTalRecorderForDvRecUpCtrl::PlayStopSilently(Args) {
    player_.Close();
    return 0;
}

Result CTalRecorderForDvRecUpCtrl::PlayStop(Args) {
    player_.Close();
    FireRecorderStateNotify(states::kPlayStop);
    return 0;
}

Result CTalRecorderForDvRecUpCtrl::PlayPause(Args) {
    player_.Pause();
    FireRecorderStateNotify(states::kPlayPause);
    return 0;
}

Result CTalRecorderForDvRecUpCtrl::PlayContinue(Args) {
    player_.Play();
    FireRecorderStateNotify(states::kPlayResume);
    return 0;
}

// The file-name part of the last path given: what follows the last separator (a separator
// byte inside a multibyte character does not count); empty when the only separator is the
// first character.
Result CTalRecorderForDvRecUpCtrl::RecordFileName(Args) {
    const char* text = fileName_.c_str();
    const char* last = AfxStrRChrMB(text, PATH_SEPARATOR);
    if (last == nullptr) return fileName_;
    if (last == text) return std::string();
    return std::string(last + 1);
}

// The setter stores nothing: an existing folder marks the control modified, anything else
// is shown in a message box, the string table's text in the ANSI code page with the value in
// place of its "%s". A folder outside those scripts may name files in counts as no folder, so
// that a page cannot probe which folders exist elsewhere.
Result CTalRecorderForDvRecUpCtrl::SetTempFolderPass(Args args) {
    const std::string value = Text(args[0]);
    DWORD attributes = GetFileAttributesA(value.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        IsScriptFolderAllowed(value)) {
        SetModifiedFlag();
        return {};
    }
    std::string text =
        talrec::resources::LoadAnsiString(talrec::resources::IDS_TEMPFOLDERPASS_NOT_FOLDER);
    if (std::size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, value);
    AfxMessageBox(text.c_str(), MB_OK);
    return {};
}

Result CTalRecorderForDvRecUpCtrl::ConvertWavToWMA(Args args) {
    ScriptFileScope files;
    return ConvertWavFile(Text(args[0]).c_str(), Text(args[1]).c_str()) < 0 ? -1 : 0;
}
