// Whose debug output a thread writes (platform/ext/hosthooks.h): one value per thread. Both
// targets build this file.
#include "platform/ext/hosthooks.h"

namespace {

thread_local ULONGLONG t_owner = 0;

}  // namespace

ULONGLONG SetThreadDebugOwner(ULONGLONG owner) {
    const ULONGLONG previous = t_owner;
    t_owner = owner;
    return previous;
}

ULONGLONG GetThreadDebugOwner() {
    return t_owner;
}
