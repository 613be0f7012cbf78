// What the runtime holds, for tests and diagnostics.
#pragma once

#include <cstddef>

namespace talrec::com {

// Modules opened by CoGetClassObject and not yet unloaded.
std::size_t LoadedModuleCount();

}  // namespace talrec::com
