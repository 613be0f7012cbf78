#include <algorithm>
#include <cstring>

#include "platform/mci.h"

namespace {

struct ErrorEntry {
    MCIERROR code;
    const char* name;
    const char* text;
};

// Every code the service returns, with its name and its text.
constexpr ErrorEntry kErrors[] = {
    {MCIERR_INVALID_DEVICE_ID, "MCIERR_INVALID_DEVICE_ID",
     "The specified device is not open or is not recognized."},
    {MCIERR_UNRECOGNIZED_COMMAND, "MCIERR_UNRECOGNIZED_COMMAND",
     "The specified command is not recognized."},
    {MCIERR_HARDWARE, "MCIERR_HARDWARE",
     "The sound output device failed. Make sure it is connected and working."},
    {MCIERR_INVALID_DEVICE_NAME, "MCIERR_INVALID_DEVICE_NAME",
     "The specified device type is not installed."},
    {MCIERR_OUT_OF_MEMORY, "MCIERR_OUT_OF_MEMORY",
     "There is not enough memory to carry out the command."},
    {MCIERR_CANNOT_LOAD_DRIVER, "MCIERR_CANNOT_LOAD_DRIVER",
     "The device driver could not be loaded."},
    {MCIERR_MISSING_PARAMETER, "MCIERR_MISSING_PARAMETER",
     "The command needs a parameter that was not given."},
    {MCIERR_UNSUPPORTED_FUNCTION, "MCIERR_UNSUPPORTED_FUNCTION",
     "The device cannot carry out this command."},
    {MCIERR_FILE_NOT_FOUND, "MCIERR_FILE_NOT_FOUND",
     "The specified file cannot be found. Make sure the path and file name are correct."},
    {MCIERR_DEVICE_NOT_READY, "MCIERR_DEVICE_NOT_READY", "The device is not ready."},
    {MCIERR_INTERNAL, "MCIERR_INTERNAL", "An internal error occurred in the device."},
    {MCIERR_OUTOFRANGE, "MCIERR_OUTOFRANGE", "The position given lies beyond the end of the file."},
    {MCIERR_FLAGS_NOT_COMPATIBLE, "MCIERR_FLAGS_NOT_COMPATIBLE",
     "The flags given cannot be used together."},
    {MCIERR_DEVICE_TYPE_REQUIRED, "MCIERR_DEVICE_TYPE_REQUIRED",
     "The device type cannot be determined from the file; give a device type."},
    {MCIERR_INVALID_FILE, "MCIERR_INVALID_FILE",
     "The file cannot be played: it is not a sound or video file the device can read, or "
     "it is damaged."},
    {MCIERR_NULL_PARAMETER_BLOCK, "MCIERR_NULL_PARAMETER_BLOCK",
     "The command needs a parameter record and none was given."},
    {MCIERR_NONAPPLICABLE_FUNCTION, "MCIERR_NONAPPLICABLE_FUNCTION",
     "The command cannot be carried out in the device's present mode."},
    {MCIERR_FILENAME_REQUIRED, "MCIERR_FILENAME_REQUIRED", "The command needs a file name."},
    {MCIERR_WAVE_OUTPUTSINUSE, "MCIERR_WAVE_OUTPUTSINUSE",
     "The sound output device is in use by another program."},
    {MCIERR_WAVE_OUTPUTSUNSUITABLE, "MCIERR_WAVE_OUTPUTSUNSUITABLE",
     "The sound output device cannot play the file's format."},
};

}  // namespace

BOOL mciGetErrorStringA(MCIERROR mcierr, LPSTR pszText, UINT cchText) {
    const char* text = "";
    BOOL known = FALSE;
    for (const ErrorEntry& e : kErrors) {
        if (e.code == mcierr) {
            text = e.text;
            known = TRUE;
            break;
        }
    }
    if (pszText == nullptr || cchText == 0) return known;
    const std::size_t n = std::min<std::size_t>(std::strlen(text), cchText - 1);
    std::memcpy(pszText, text, n);
    pszText[n] = '\0';
    return known;
}
