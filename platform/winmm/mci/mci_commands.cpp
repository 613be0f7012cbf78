// mciSendCommandA: the table of open devices and the command dispatch.
#include <strings.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/debugapi.h"
#include "platform/ext/wavformat.h"
#include "platform/mci.h"
#include "platform/mmwave.h"
#include "platform/winmm/mci/mci_decoder.h"
#include "platform/winmm/mci/mci_device.h"
#include "platform/winmm/wave_probe.h"

using talrec::mci::MciDevice;
using talrec::mci::MediaDecoder;
using talrec::mci::PcmFormat;

namespace {

constexpr const char* kDeviceType = "MPEGVideo";

// Open devices by identifier. Identifiers count up and are never given twice.
struct DeviceTable {
    std::mutex mutex;
    std::map<MCIDEVICEID, std::shared_ptr<MciDevice>> devices;
    MCIDEVICEID next = 1;
};

// Never destroyed: devices still open at exit are not closed while other services shut down.
DeviceTable& Table() {
    static auto* table = new DeviceTable;
    return *table;
}

std::shared_ptr<MciDevice> Find(MCIDEVICEID id) {
    DeviceTable& t = Table();
    std::lock_guard lock(t.mutex);
    const auto it = t.devices.find(id);
    return it == t.devices.end() ? nullptr : it->second;
}

bool OutputTakes(const PcmFormat& f) {
    const WAVEFORMATEX wfx = MakePcmFormat(static_cast<WORD>(f.channels),
                                           static_cast<DWORD>(f.rate), static_cast<WORD>(f.bits));
    return waveOutOpen(nullptr, WAVE_MAPPER, &wfx, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

// The stream's own format if the output takes it, else the nearest common one it takes.
PcmFormat ChooseOutputFormat(const PcmFormat& natural) {
    const PcmFormat candidates[] = {natural,
                                    {natural.rate, natural.channels, 16},
                                    {natural.rate, 2, 16},
                                    {48000, 2, 16},
                                    {44100, 2, 16},
                                    {22050, 2, 16}};
    for (const PcmFormat& c : candidates) {
        if (OutputTakes(c)) return c;
    }
    return natural;  // playing will report that the output refuses it
}

// One line on the debug output for a file that does not open or that FFmpeg cannot decode,
// with FFmpeg's words when it had any.
void ReportUnplayable(const char* path, MCIERROR rc, const std::string& why) {
    std::string text = why;
    if (text.empty()) {
        char buffer[256] = "";
        mciGetErrorStringA(rc, buffer, sizeof buffer);
        text = buffer;
    }
    const std::string line = "MCI_OPEN: cannot play " + std::string(path) + " (" + text + ")";
    OutputDebugStringA(line.c_str());
}

MCIERROR Open(DWORD_PTR flags, MCI_OPEN_PARMSA* parms) {
    if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
    if ((flags & (MCI_OPEN_TYPE_ID | MCI_OPEN_ELEMENT_ID)) != 0) {
        return MCIERR_FLAGS_NOT_COMPATIBLE;
    }
    // No type (or a null one) lets the file choose; every file this service plays is the
    // MPEGVideo device's.
    if ((flags & MCI_OPEN_TYPE) != 0 && parms->lpstrDeviceType != nullptr &&
        ::strcasecmp(parms->lpstrDeviceType, kDeviceType) != 0) {
        return MCIERR_INVALID_DEVICE_NAME;
    }
    if ((flags & MCI_OPEN_ELEMENT) == 0 || parms->lpstrElementName == nullptr ||
        parms->lpstrElementName[0] == '\0') {
        return MCIERR_FILENAME_REQUIRED;
    }
    std::unique_ptr<MediaDecoder> decoder;
    std::string why;
    if (const MCIERROR rc = MediaDecoder::Open(parms->lpstrElementName, decoder, &why); rc != 0) {
        ReportUnplayable(parms->lpstrElementName, rc, why);
        return rc;
    }
    {
        const talrec::wave::WaveProbe probe;  // a format the output refuses is no failure here
        decoder->SetOutputFormat(ChooseOutputFormat(decoder->NaturalFormat()));
    }
    auto device = std::make_shared<MciDevice>(std::move(decoder));

    DeviceTable& t = Table();
    std::lock_guard lock(t.mutex);
    const MCIDEVICEID id = t.next;
    t.next = t.next + 1 == MCI_ALL_DEVICE_ID ? 1 : t.next + 1;
    t.devices.emplace(id, std::move(device));
    parms->wDeviceID = id;
    return 0;
}

MCIERROR Close(MCIDEVICEID id) {
    std::map<MCIDEVICEID, std::shared_ptr<MciDevice>> closing;
    {
        DeviceTable& t = Table();
        std::lock_guard lock(t.mutex);
        if (id == MCI_ALL_DEVICE_ID) {
            closing.swap(t.devices);
        } else {
            const auto it = t.devices.find(id);
            if (it == t.devices.end()) return MCIERR_INVALID_DEVICE_ID;
            closing.insert(t.devices.extract(it));
        }
    }
    for (auto& [_, device] : closing) device->Close();  // outside the table's lock
    return 0;
}

MCIERROR SysInfo(MCIDEVICEID id, DWORD_PTR flags, MCI_SYSINFO_PARMSA* parms) {
    if (id != MCI_ALL_DEVICE_ID) return MCIERR_UNSUPPORTED_FUNCTION;
    if ((flags & MCI_SYSINFO_QUANTITY) == 0) return MCIERR_UNSUPPORTED_FUNCTION;
    if (parms == nullptr || parms->lpstrReturn == nullptr || parms->dwRetSize < sizeof(DWORD)) {
        return MCIERR_NULL_PARAMETER_BLOCK;
    }
    DWORD count = 1;  // the one device type installed
    if ((flags & MCI_SYSINFO_OPEN) != 0) {
        DeviceTable& t = Table();
        std::lock_guard lock(t.mutex);
        count = static_cast<DWORD>(t.devices.size());
    }
    std::memcpy(parms->lpstrReturn, &count, sizeof(DWORD));
    return 0;
}

MCIERROR Status(MciDevice& device, DWORD_PTR flags, MCI_STATUS_PARMS* parms) {
    if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
    if ((flags & MCI_STATUS_ITEM) == 0) return MCIERR_MISSING_PARAMETER;
    switch (parms->dwItem) {
        case MCI_STATUS_MODE:
            parms->dwReturn = device.Mode();
            return 0;
        case MCI_STATUS_LENGTH:
            parms->dwReturn = device.LengthMs();
            return 0;
        case MCI_STATUS_POSITION: {
            if ((flags & MCI_STATUS_START) != 0) {
                parms->dwReturn = 0;
                return 0;
            }
            DWORD ms = 0;
            const MCIERROR rc = device.PositionMs(ms);
            if (rc == 0) parms->dwReturn = ms;
            return rc;
        }
        case MCI_STATUS_NUMBER_OF_TRACKS:
            parms->dwReturn = 1;
            return 0;
        case MCI_STATUS_MEDIA_PRESENT:
        case MCI_STATUS_READY:
            parms->dwReturn = TRUE;
            return 0;
        case MCI_STATUS_TIME_FORMAT:
            parms->dwReturn = MCI_FORMAT_MILLISECONDS;
            return 0;
        default:
            return MCIERR_UNSUPPORTED_FUNCTION;
    }
}

MCIERROR Play(MciDevice& device, DWORD_PTR flags, const MCI_PLAY_PARMS* parms) {
    std::optional<DWORD> from;
    std::optional<DWORD> to;
    if ((flags & (MCI_FROM | MCI_TO)) != 0) {
        if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
        if ((flags & MCI_FROM) != 0) from = parms->dwFrom;
        if ((flags & MCI_TO) != 0) to = parms->dwTo;
    }
    const MCIERROR rc = device.Play(from, to);
    if (rc == 0 && (flags & MCI_WAIT) != 0) device.WaitWhilePlaying();
    return rc;
}

MCIERROR Seek(MciDevice& device, DWORD_PTR flags, const MCI_SEEK_PARMS* parms) {
    const DWORD_PTR targets = flags & (MCI_SEEK_TO_START | MCI_SEEK_TO_END | MCI_TO);
    if (targets == 0) return MCIERR_MISSING_PARAMETER;
    if ((targets & (targets - 1)) != 0) return MCIERR_FLAGS_NOT_COMPATIBLE;
    if (targets == MCI_SEEK_TO_START) return device.SeekToStart();
    if (targets == MCI_SEEK_TO_END) return device.SeekToEnd();
    if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
    return device.SeekTo(parms->dwTo);
}

}  // namespace

MCIERROR mciSendCommandA(MCIDEVICEID IDDevice, UINT uMsg, DWORD_PTR fdwCommand, DWORD_PTR dwParam) {
    switch (uMsg) {
        case MCI_OPEN:
            return Open(fdwCommand, reinterpret_cast<MCI_OPEN_PARMSA*>(dwParam));
        case MCI_CLOSE:
            return Close(IDDevice);
        case MCI_SYSINFO:
            return SysInfo(IDDevice, fdwCommand, reinterpret_cast<MCI_SYSINFO_PARMSA*>(dwParam));
        default:
            break;
    }
    const std::shared_ptr<MciDevice> device = Find(IDDevice);
    if (device == nullptr) return MCIERR_INVALID_DEVICE_ID;
    switch (uMsg) {
        case MCI_PLAY:
            return Play(*device, fdwCommand, reinterpret_cast<const MCI_PLAY_PARMS*>(dwParam));
        case MCI_PAUSE:
            return device->Pause();
        case MCI_RESUME:
            return device->Resume();
        case MCI_STOP:
            return device->Stop();
        case MCI_SEEK:
            return Seek(*device, fdwCommand, reinterpret_cast<const MCI_SEEK_PARMS*>(dwParam));
        case MCI_STATUS:
            return Status(*device, fdwCommand, reinterpret_cast<MCI_STATUS_PARMS*>(dwParam));
        case MCI_RECORD:
        case MCI_SAVE:
            return MCIERR_UNSUPPORTED_FUNCTION;  // this device type only plays
        default:
            return MCIERR_UNRECOGNIZED_COMMAND;
    }
}
