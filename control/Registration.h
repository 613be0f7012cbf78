// Self-registration: the type library, the control's and the property page's class entries
// under HKEY_CLASSES_ROOT, and the two safety categories. On the caller's thread.
#pragma once

#include <string>

#include "platform/windef.h"

namespace talrec::control {

// The full path of the control module.
std::string ModulePath();

// Registers the type library the module carries; false when it cannot be loaded from the
// module or its id is not the module's.
bool RegisterTypeLibrary(const std::string& modulePath);
bool UnregisterTypeLibrary();

// The control's factory: marks the class safe for scripting and for initialising (categories
// registered with their descriptions first), then writes (or removes) the class and ProgID.
bool UpdateControlRegistration(bool registering, const std::string& modulePath);
// The property page's factory: its class entries, no ProgID.
bool UpdatePropPageRegistration(bool registering, const std::string& modulePath);

// Registers one category's description (cut to 127 UTF-16 units), locale 0x0409.
HRESULT RegisterSafetyCategory(REFGUID catid, const char* description);
HRESULT MarkClassInCategory(REFCLSID clsid, REFGUID catid);

}  // namespace talrec::control
