#include "host/common/MediaInfo.h"

#include "platform/mci.h"

namespace talrec::host {

double MediaSeconds(const std::string& path) {
    MCI_OPEN_PARMSA open{};
    open.lpstrDeviceType = "MPEGVideo";
    open.lpstrElementName = path.c_str();
    if (mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT,
                        reinterpret_cast<DWORD_PTR>(&open)) != 0) {
        return -1;
    }
    MCI_STATUS_PARMS status{};
    status.dwItem = MCI_STATUS_LENGTH;
    MCIERROR error = mciSendCommandA(open.wDeviceID, MCI_STATUS, MCI_STATUS_ITEM,
                                     reinterpret_cast<DWORD_PTR>(&status));
    mciSendCommandA(open.wDeviceID, MCI_CLOSE, 0, 0);
    return error == 0 ? static_cast<double>(status.dwReturn) / 1000.0 : -1;
}

}  // namespace talrec::host
