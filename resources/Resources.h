// The module's resources: its string table, version record, toolbox bitmap, property-page
// dialog and manifest, compiled into the control module as data.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/oaidl.h"

namespace talrec::resources {

inline constexpr UINT IDS_TALRECORDERFORDVRECUP = 1;      // the control's user type name
inline constexpr UINT IDS_TALRECORDERFORDVRECUP_PPG = 2;  // the property page's type name
inline constexpr UINT IDS_TALRECORDERFORDVRECUP_PPG_CAPTION = 200;
inline constexpr UINT IDB_TALRECORDERFORDVRECUP = 1;  // toolbox bitmap
inline constexpr UINT IDD_PROPPAGE_TALRECORDERFORDVRECUP = 200;
inline constexpr UINT IDR_MANIFEST = 2;
// TempFolderPass's message for a value that is no folder; "%s" stands for the value. In
// Korean: it reads as meant where the ANSI code page is 949.
inline constexpr UINT IDS_TEMPFOLDERPASS_NOT_FOLDER = 201;

// The string with that id as the table holds it (UTF-16, as a module's string table does),
// or null when the table has none.
const OLECHAR* FindString(UINT id);
// The same in the ANSI code page, as LoadStringA gives it; empty when the table has none.
std::string LoadAnsiString(UINT id);

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
