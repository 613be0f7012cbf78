#include "resources/Resources.h"

namespace talrec::resources {

const char* FindString(UINT id) {
    switch (id) {
        case IDS_TALRECORDERFORDVRECUP:
            return "TalRecorderForDvRecUp Control";
        case IDS_TALRECORDERFORDVRECUP_PPG:
            return "TalRecorderForDvRecUp Property Page";
        case IDS_TALRECORDERFORDVRECUP_PPG_CAPTION:
            return "General";
        default:
            return nullptr;
    }
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
