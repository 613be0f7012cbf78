// The texts of the wave-audio result codes, one table for both directions.
#include <algorithm>
#include <cstring>

#include "platform/mmwave.h"

namespace {

struct ErrorText {
    MMRESULT code;
    const char* text;
};

constexpr ErrorText kTexts[] = {
    {MMSYSERR_NOERROR, "The command was carried out."},
    {MMSYSERR_ERROR, "An unspecified error occurred."},
    {MMSYSERR_BADDEVICEID, "The device identifier is out of range."},
    {MMSYSERR_NOTENABLED, "The driver could not be enabled."},
    {MMSYSERR_ALLOCATED, "The device is already in use by another application."},
    {MMSYSERR_INVALHANDLE, "The device handle is not valid."},
    {MMSYSERR_NODRIVER,
     "No sound device is available, or the configured one could not be "
     "reached. Check the TALREC_WAVE_DEVICE setting."},
    {MMSYSERR_NOMEM, "There is not enough memory for this operation."},
    {MMSYSERR_NOTSUPPORTED, "The device does not support this function."},
    {MMSYSERR_BADERRNUM, "The error number is not defined."},
    {MMSYSERR_INVALFLAG, "An invalid flag was passed."},
    {MMSYSERR_INVALPARAM, "An invalid parameter was passed."},
    {MMSYSERR_HANDLEBUSY, "The handle is in use by another operation on another thread."},
    {MMSYSERR_NODRIVERCB, "The driver did not call back."},
    {WAVERR_BADFORMAT, "The device cannot take this sound format."},
    {WAVERR_STILLPLAYING, "Buffers are still queued at the device."},
    {WAVERR_UNPREPARED, "The buffer header has not been prepared."},
    {WAVERR_SYNC,
     "The device is synchronous and cannot be opened without the WAVE_ALLOWSYNC "
     "flag."},
};

MMRESULT GetErrorText(MMRESULT code, LPSTR text, UINT cch) {
    if (!text || cch == 0) return MMSYSERR_INVALPARAM;
    for (const ErrorText& e : kTexts) {
        if (e.code != code) continue;
        const std::size_t n = std::min<std::size_t>(std::strlen(e.text), cch - 1);
        std::memcpy(text, e.text, n);
        text[n] = '\0';
        return MMSYSERR_NOERROR;
    }
    text[0] = '\0';
    return MMSYSERR_BADERRNUM;
}

}  // namespace

MMRESULT waveInGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText) {
    return GetErrorText(mmrError, pszText, cchText);
}

MMRESULT waveOutGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText) {
    return GetErrorText(mmrError, pszText, cchText);
}
