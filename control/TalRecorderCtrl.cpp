#include "control/TalRecorderCtrl.h"

#include "audio/WaveIn.h"
#include "control/Guids.h"
#include "control/Interfaces.h"
#include "control/StateStrings.h"
#include "framework/afxconv.h"
#include "framework/afxpath.h"
#include "platform/mci.h"
#include "platform/oleauto.h"
#include "resources/Resources.h"
#include "storage/DataFolder.h"

using namespace talrec::control;

namespace {

constexpr UINT_PTR kPollTimer = 100;
constexpr UINT kPollPeriodMs = 1000;
constexpr DWORD kPersistVersion = 0x00010000;  // major 1, minor 0
// A capture level of 0 to 9000 becomes a volume of 0 to 100.
constexpr UINT kLevelPerVolumeStep = 90;

const COleControl::Identity& ControlIdentity() {
    static const std::string userTypeName =
        talrec::resources::LoadAnsiString(talrec::resources::IDS_TALRECORDERFORDVRECUP);
    static const COleControl::Identity identity = {
        CLSID_TalRecorderForDvRecUp,
        DIID__DTalRecorderForDvRecUp,
        DIID__DTalRecorderForDvRecUpEvents,
        LIBID_TalRecorderForDvRecUpLib,
        kTypeLibMajor,
        kTypeLibMinor,
        kTypeLibLocale,
        kMiscStatus,
        userTypeName.c_str(),
        &CLSID_TalRecorderForDvRecUpPropPage,
        "TalRecorderForDvRecUp",
    };
    return identity;
}

}  // namespace

CModuleLock& CTalRecorderForDvRecUpCtrl::Module() {
    static CModuleLock lock;
    return lock;
}

CTalRecorderForDvRecUpCtrl::CTalRecorderForDvRecUpCtrl()
    : COleControl(ControlIdentity(), Module()), recordTimeOut_(0) {}

// The player sends nothing when it goes, so a file playing or paused is closed here: its
// device would otherwise play on, and hold the file, with no control left to close it.
CTalRecorderForDvRecUpCtrl::~CTalRecorderForDvRecUpCtrl() {
    player_.Close();
}

// Window creation: a fresh manager (the old one, with any recording it ran, is destroyed),
// the data folder, and the one-second poll of the player.
int CTalRecorderForDvRecUpCtrl::OnCreate(CREATESTRUCTA* create) {
    if (COleControl::OnCreate(create) == -1) return -1;
    manager_.reset(new CWaveManager);
    manager_->SetWindow(GetSafeHwnd());
    dataFolder_ = ComputeDataFolder() + PATH_SEPARATOR_STRING;
    SetTimer(kPollTimer, kPollPeriodMs, nullptr);
    return 0;
}

// Window destruction stops the poll and nothing else: a recording or playback goes on.
void CTalRecorderForDvRecUpCtrl::OnDestroy() {
    COleControl::OnDestroy();
    KillTimer(kPollTimer);
}

// The poll finds a played file at its end (the device stopped), closes it and reports it once.
void CTalRecorderForDvRecUpCtrl::OnTimer(UINT_PTR id) {
    if (id == kPollTimer && player_.GetMode() == MCI_MODE_STOP) {
        player_.Close();
        FireNoArgs(EVENTID_EVTPLAYSTOP);
        FireRecorderStateNotify(talrec::states::kPlayComplete);
    }
    COleControl::OnTimer(id);
}

// WM_WAVE_LEVEL, posted by the capture thread, handled here on the control's thread.
bool CTalRecorderForDvRecUpCtrl::OnWindowMessage(UINT message, WPARAM wParam, LPARAM,
                                                 LRESULT& result) {
    if (message != WM_WAVE_LEVEL) return false;
    FireVolumeStatus(static_cast<LONG>(static_cast<UINT>(wParam) / kLevelPerVolumeStep));
    result = 0;
    return true;
}

void CTalRecorderForDvRecUpCtrl::OnProperties() {
    using namespace talrec::resources;
    const DialogTemplate& dialog = PropertyPageDialog();
    std::string text = LoadAnsiString(IDS_TALRECORDERFORDVRECUP_PPG_CAPTION);
    for (std::size_t i = 0; i < dialog.controlCount; ++i) {
        text += "\n";
        text += dialog.controls[i].text;
    }
    AfxMessageBox(text.c_str(), MB_OK);
}

void CTalRecorderForDvRecUpCtrl::DoPropExchange(CPropExchange* px) {
    ExchangeVersion(px, kPersistVersion);
    COleControl::DoPropExchange(px);
}

void CTalRecorderForDvRecUpCtrl::FireRecorderStateNotify(const char* state) {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = AfxAllocBstr(state);
    FireEvent(EVENTID_RECORDERSTATENOTIFY, {&arg, 1});
    VariantClear(&arg);
}

void CTalRecorderForDvRecUpCtrl::FireNoArgs(DISPID id) {
    FireEvent(id, {});
}

void CTalRecorderForDvRecUpCtrl::FireVolumeStatus(LONG vol) {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = vol;
    FireEvent(EVENTID_VOLUMESTATUS, {&arg, 1});
}
