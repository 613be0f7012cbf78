// CMciPlayer: plays one sound file at a time through the media control service, on a device
// of type "MPEGVideo" opened on the file. It keeps no playing state of its own: playing,
// paused or finished is asked of the device (GetMode). Used on the user-interface thread only.
#pragma once

#include "platform/mci.h"

class CMciPlayer {
  public:
    // What GetMode answers (and keeps) when the status query fails, e.g. no device is open.
    // It is not a mode code, so it is never taken for stopped or paused.
    static constexpr DWORD kNoMode = 0;

    CMciPlayer();
    // Opens the file, exactly as Open.
    explicit CMciPlayer(LPCSTR path);
    // Records for `seconds` whole seconds and saves into `path` (a device type that cannot
    // record refuses it; then the device is closed again).
    CMciPlayer(LPCSTR path, DWORD seconds);
    // Sends nothing: an open device is not closed by the player.
    ~CMciPlayer() = default;

    // Opens the file on a new "MPEGVideo" device and asks its length. Never reports failure:
    // a file that cannot be opened shows only in that later commands address no open device.
    void Open(LPCSTR path);
    // As Open, but the device type is left to the file.
    void OpenWithoutType(LPCSTR path);
    // Plays from the current position to the end (after Pause it resumes where it stopped).
    int Play();
    MCIERROR Pause();
    // Closes the device; deviceId keeps its value.
    MCIERROR Close();
    // The device's mode (525 stopped, 526 playing, 529 paused ...), or kNoMode.
    DWORD GetMode();
    int SeekToStart();
    int SeekToEnd();
    // The answer of the last status query: the length after Open, the mode after GetMode.
    DWORD GetLastStatus() const { return lastStatus_; }

  private:
    void OpenAs(LPCSTR deviceType, LPCSTR path);

    DWORD lastStatus_;
    MCI_OPEN_PARMS openParams_;
    MCI_PLAY_PARMS playParams_;
    MCI_RECORD_PARMS recordParams_;
    MCI_SAVE_PARMS saveParams_;
    MCIDEVICEID deviceId_;
};
