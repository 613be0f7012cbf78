// CTalRecorderForDvRecUpCtrl: the control object. It owns the recorder manager and the media
// player, turns its window's creation, destruction, timer ticks and level messages into work,
// and carries the scripting methods and events. Everything runs on the container's
// user-interface thread; the capture thread reaches it only by posting WM_WAVE_LEVEL.
#pragma once

#include <boost/shared_ptr.hpp>
#include <span>
#include <string>

#include "audio/MciPlayer.h"
#include "audio/WaveManager.h"
#include "control/Interfaces.h"
#include "framework/afxctl.h"

class CTalRecorderForDvRecUpCtrl : public COleControl {
  public:
    CTalRecorderForDvRecUpCtrl();

    // The module's count of live objects and locks.
    static CModuleLock& Module();

    // The scripting members' handlers, named by the member table (control/Interfaces.cpp),
    // which the dispatch looks up: one per entry, pairs share theirs. On the container's
    // user-interface thread; `args` as the table's parameters say.
    using Args = std::span<VARIANT>;
    using Result = talrec::control::Result;
    Result GetTempFolderPass(Args);
    Result SetTempFolderPass(Args args);
    Result SetPcmFormat(Args);
    Result RecordTimeOut(Args args);
    Result RecStart(Args);
    Result RecordStartFile(Args args);
    Result GetErrorString(Args args);
    Result RecordStop(Args);
    Result RecordPause(Args);
    Result RecordContinue(Args);
    Result RecordTotalFileName(Args);
    Result RecordFileName(Args);
    Result PlayStart(Args args);
    Result PlayStopSilently(Args);
    Result PlayStop(Args);
    Result PlayPause(Args);
    Result PlayContinue(Args);
    Result GetDataFolder(Args);
    Result ConvertWavToWMA(Args args);
    Result DeleteAudioFileALL(Args);
    Result DeleteAudioFile(Args args);

  protected:
    // Closes the player's device (its file with it), then releases dataFolder, player,
    // fileName and manager: a recording still running is kept for recovery by the manager.
    ~CTalRecorderForDvRecUpCtrl() override;

    int OnCreate(CREATESTRUCTA* create) override;
    void OnDestroy() override;
    void OnTimer(UINT_PTR id) override;
    bool OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnProperties() override;
    void DoPropExchange(CPropExchange* px) override;

    std::span<const AFX_DISPMAP_ENTRY> GetDispatchMap() const override;
    HRESULT InvokeMember(const AFX_DISPMAP_ENTRY& entry, WORD flags, std::span<VARIANT> args,
                         VARIANT* result) override;

  private:
    LONG BeginRecording(const std::string& path);

    static bool PathsAllowed(const talrec::control::Member& member, std::span<VARIANT> args);

    void FireRecorderStateNotify(const char* state);
    void FireNoArgs(DISPID id);
    void FireVolumeStatus(LONG vol);

    LONG recordTimeOut_;
    boost::shared_ptr<CWaveManager> manager_;
    std::string fileName_;
    CMciPlayer player_;
    std::string dataFolder_;
};
