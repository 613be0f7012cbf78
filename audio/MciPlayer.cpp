#include "audio/MciPlayer.h"

namespace {
constexpr LPCSTR kDeviceType = "MPEGVideo";
}

CMciPlayer::CMciPlayer()
    : lastStatus(0), openParams{}, playParams{}, recordParams{}, saveParams{}, deviceId(0) {}

CMciPlayer::CMciPlayer(LPCSTR path) : CMciPlayer() {
    Open(path);
}

CMciPlayer::CMciPlayer(LPCSTR path, DWORD seconds) : CMciPlayer() {
    openParams.lpstrDeviceType = kDeviceType;
    openParams.lpstrElementName = "";
    if (mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT,
                        reinterpret_cast<DWORD_PTR>(&openParams)) != 0) {
        return;
    }
    deviceId = openParams.wDeviceID;
    recordParams.dwTo = seconds * 1000;
    if (mciSendCommandA(deviceId, MCI_RECORD, MCI_TO | MCI_WAIT,
                        reinterpret_cast<DWORD_PTR>(&recordParams)) != 0) {
        mciSendCommandA(deviceId, MCI_CLOSE, 0, 0);
        return;
    }
    saveParams.lpfilename = path;
    if (mciSendCommandA(deviceId, MCI_SAVE, MCI_SAVE_FILE | MCI_WAIT,
                        reinterpret_cast<DWORD_PTR>(&saveParams)) != 0) {
        mciSendCommandA(deviceId, MCI_CLOSE, 0, 0);
    }
    saveParams.lpfilename = nullptr;  // the caller's string is not kept
}

void CMciPlayer::Open(LPCSTR path) {
    OpenAs(kDeviceType, path);
}

void CMciPlayer::OpenWithoutType(LPCSTR path) {
    OpenAs(nullptr, path);
}

void CMciPlayer::OpenAs(LPCSTR deviceType, LPCSTR path) {
    openParams.lpstrElementName = path;
    openParams.lpstrDeviceType = deviceType;
    // The result is not looked at: after a failed open wDeviceID still holds the previous
    // device (0 if none), which the following commands then address.
    mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT,
                    reinterpret_cast<DWORD_PTR>(&openParams));
    openParams.lpstrElementName = nullptr;  // the caller's string is not kept
    deviceId = openParams.wDeviceID;
    playParams.dwCallback = 0;

    MCI_STATUS_PARMS status{};
    status.dwItem = MCI_STATUS_LENGTH;
    mciSendCommandA(deviceId, MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&status));
    lastStatus = static_cast<DWORD>(status.dwReturn);
}

int CMciPlayer::Play() {
    mciSendCommandA(deviceId, MCI_PLAY, MCI_NOTIFY, reinterpret_cast<DWORD_PTR>(&playParams));
    return 1;
}

MCIERROR CMciPlayer::Pause() {
    return mciSendCommandA(deviceId, MCI_PAUSE, MCI_NOTIFY,
                           reinterpret_cast<DWORD_PTR>(&playParams));
}

MCIERROR CMciPlayer::Close() {
    return mciSendCommandA(deviceId, MCI_CLOSE, 0, 0);
}

DWORD CMciPlayer::GetMode() {
    MCI_STATUS_PARMS status{};
    status.dwItem = MCI_STATUS_MODE;
    if (mciSendCommandA(deviceId, MCI_STATUS, MCI_STATUS_ITEM,
                        reinterpret_cast<DWORD_PTR>(&status)) != 0) {
        status.dwReturn = kNoMode;
    }
    lastStatus = static_cast<DWORD>(status.dwReturn);
    return lastStatus;
}

int CMciPlayer::SeekToStart() {
    mciSendCommandA(deviceId, MCI_SEEK, MCI_SEEK_TO_START, 0);
    return 1;
}

int CMciPlayer::SeekToEnd() {
    mciSendCommandA(deviceId, MCI_SEEK, MCI_SEEK_TO_END, 0);
    return 1;
}
