#include <unistd.h>

#include "platform/processthreadsapi.h"

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}
