// The module's resources: its string table, version record, toolbox bitmap, property-page
// dialog and manifest, compiled into the control module as data.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/windef.h"

namespace talrec::resources {

inline constexpr UINT IDS_TALRECORDERFORDVRECUP = 1;      // the control's user type name
inline constexpr UINT IDS_TALRECORDERFORDVRECUP_PPG = 2;  // the property page's type name
inline constexpr UINT IDS_TALRECORDERFORDVRECUP_PPG_CAPTION = 200;
inline constexpr UINT IDB_TALRECORDERFORDVRECUP = 1;  // toolbox bitmap
inline constexpr UINT IDD_PROPPAGE_TALRECORDERFORDVRECUP = 200;
inline constexpr UINT IDR_MANIFEST = 2;

// The string with that id, or null when the table has none.
const char* FindString(UINT id);

struct VersionEntry {
    const char* name;
    const char* value;
};

struct VersionRecord {
    WORD fileVersion[4];     // 2.0.0.3
    WORD productVersion[4];  // 2.0.0.3
    DWORD fileOS;            // VOS__WINDOWS32
    DWORD fileType;          // VFT_DLL
    WORD language;           // 0x0409
    WORD codePage;           // 1252
    const VersionEntry* entries;
    std::size_t entryCount;
};
const VersionRecord& Version();
// The value of one text entry ("FileVersion", "InternalName" ...), or null.
const char* VersionString(std::string_view name);

// The toolbox image as a device-independent bitmap: 16 by 15 pixels, 4 bits per pixel
// (a BITMAPINFOHEADER, a 16-colour palette and the bottom-up rows).
std::basic_string_view<BYTE> ToolboxBitmap();

struct DialogControl {
    const char* className;  // "STATIC"
    const char* text;
    int id;              // -1: no id
    short x, y, cx, cy;  // dialog units
};
struct DialogTemplate {
    short cx, cy;  // dialog units
    const char* fontName;
    WORD pointSize;
    bool child;
    const DialogControl* controls;
    std::size_t controlCount;
};
// Dialog 200, the property page.
const DialogTemplate& PropertyPageDialog();

std::string_view Manifest();

}  // namespace talrec::resources
