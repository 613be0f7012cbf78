// The control every talrec container hosts, named once: its ProgID, and the safety categories
// that script hosts require of a control before they create one.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/objbase.h"

namespace talrec::host {

inline constexpr char kControlProgId[] = "TALRECORDERFORDV.TalRecorderForDvCtrl.1";
inline constexpr char16_t kControlProgIdW[] = u"TALRECORDERFORDV.TalRecorderForDvCtrl.1";

struct SafetyMark {
    const char* what;  // "safe for scripting", "safe for initializing"
    CATID category;
};

// The safety marks the class lacks in the registry, scripting first; empty when it has both,
// nullopt when the categories cannot be read.
std::optional<std::vector<SafetyMark>> MissingSafetyMarks(const CLSID& clsid);

// "{7DD95801-9882-11CF-9FA9-00AA006C42C4}".
std::string GuidText(REFGUID guid);

}  // namespace talrec::host
