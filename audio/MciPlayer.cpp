#include "audio/MciPlayer.h"

namespace {
constexpr LPCSTR kDeviceType = "MPEGVideo";
}

CMciPlayer::CMciPlayer()
    : lastStatus_(0), openParams_{}, playParams_{}, recordParams_{}, saveParams_{}, deviceId_(0) {}

CMciPlayer::CMciPlayer(LPCSTR path) : CMciPlayer() {
    Open(path);
}

CMciPlayer::CMciPlayer(LPCSTR path, DWORD seconds) : CMciPlayer() {
    openParams_.lpstrDeviceType = kDeviceType;
    openParams_.lpstrElementName = "";
    if (mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT,
                        reinterpret_cast<DWORD_PTR>(&openParams_)) != 0) {
        return;
    }
    deviceId_ = openParams_.wDeviceID;
    recordParams_.dwTo = seconds * 1000;
    if (mciSendCommandA(deviceId_, MCI_RECORD, MCI_TO | MCI_WAIT,
                        reinterpret_cast<DWORD_PTR>(&recordParams_)) != 0) {
        mciSendCommandA(deviceId_, MCI_CLOSE, 0, 0);
        return;
    }
    saveParams_.lpfilename = path;
    if (mciSendCommandA(deviceId_, MCI_SAVE, MCI_SAVE_FILE | MCI_WAIT,
                        reinterpret_cast<DWORD_PTR>(&saveParams_)) != 0) {
        mciSendCommandA(deviceId_, MCI_CLOSE, 0, 0);
    }
    saveParams_.lpfilename = nullptr;  // the caller's string is not kept
}

void CMciPlayer::Open(LPCSTR path) {
    OpenAs(kDeviceType, path);
}

void CMciPlayer::OpenWithoutType(LPCSTR path) {
    OpenAs(nullptr, path);
}

void CMciPlayer::OpenAs(LPCSTR deviceType, LPCSTR path) {
    openParams_.lpstrElementName = path;
    openParams_.lpstrDeviceType = deviceType;
    // The result is not looked at: after a failed open wDeviceID still holds the previous
    // device (0 if none), which the following commands then address.
    mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT,
                    reinterpret_cast<DWORD_PTR>(&openParams_));
    openParams_.lpstrElementName = nullptr;  // the caller's string is not kept
    deviceId_ = openParams_.wDeviceID;
    playParams_.dwCallback = 0;

    MCI_STATUS_PARMS status{};
    status.dwItem = MCI_STATUS_LENGTH;
    mciSendCommandA(deviceId_, MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&status));
    lastStatus_ = static_cast<DWORD>(status.dwReturn);
}

int CMciPlayer::Play() {
    mciSendCommandA(deviceId_, MCI_PLAY, MCI_NOTIFY, reinterpret_cast<DWORD_PTR>(&playParams_));
    return 1;
}

MCIERROR CMciPlayer::Pause() {
    return mciSendCommandA(deviceId_, MCI_PAUSE, MCI_NOTIFY,
                           reinterpret_cast<DWORD_PTR>(&playParams_));
}

MCIERROR CMciPlayer::Close() {
    return mciSendCommandA(deviceId_, MCI_CLOSE, 0, 0);
}

DWORD CMciPlayer::GetMode() {
    MCI_STATUS_PARMS status{};
    status.dwItem = MCI_STATUS_MODE;
    if (mciSendCommandA(deviceId_, MCI_STATUS, MCI_STATUS_ITEM,
                        reinterpret_cast<DWORD_PTR>(&status)) != 0) {
        status.dwReturn = kNoMode;
    }
    lastStatus_ = static_cast<DWORD>(status.dwReturn);
    return lastStatus_;
}

int CMciPlayer::SeekToStart() {
    mciSendCommandA(deviceId_, MCI_SEEK, MCI_SEEK_TO_START, 0);
    return 1;
}

int CMciPlayer::SeekToEnd() {
    mciSendCommandA(deviceId_, MCI_SEEK, MCI_SEEK_TO_END, 0);
    return 1;
}
