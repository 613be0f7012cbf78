#include "framework/afxconv.h"
#include "resources/Resources.h"

namespace talrec::resources {

namespace {

struct StringEntry {
    UINT id;
    const OLECHAR* text;
};

constexpr StringEntry kStrings[] = {
    {IDS_TALRECORDERFORDVRECUP, OLESTR("TalRecorderForDvRecUp Control")},
    {IDS_TALRECORDERFORDVRECUP_PPG, OLESTR("TalRecorderForDvRecUp Property Page")},
    {IDS_TALRECORDERFORDVRECUP_PPG_CAPTION, OLESTR("General")},
    {IDS_TEMPFOLDERPASS_NOT_FOLDER, OLESTR("설정된 값은 디렉토리가 아닙니다 [ %s ]")},
};

}  // namespace

const OLECHAR* FindString(UINT id) {
    for (const StringEntry& entry : kStrings) {
        if (entry.id == id) return entry.text;
    }
    return nullptr;
}

std::string LoadAnsiString(UINT id) {
    const OLECHAR* text = FindString(id);
    return text != nullptr ? AfxWideToAnsi(text) : std::string();
}

std::string_view Manifest() {
    return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
</assembly>
)";
}

}  // namespace talrec::resources
