// Names and texts of the statuses the conversion can end with.
#pragma once

#include <string>

#include "platform/windef.h"

// "E_FAIL: ..." for a known status, a generic text otherwise.
std::string StatusText(HRESULT hr);
