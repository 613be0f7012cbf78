// OutputDebugStringA over a container's hook, else standard error.
#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "platform/debugapi.h"
#include "platform/ext/hosthooks.h"

namespace {

// Calls take the lock shared, so a change of hook waits for the calls in progress.
std::shared_mutex g_lock;
DEBUGOUTPUTHOOK g_hook = nullptr;
void* g_context = nullptr;

}  // namespace

void WINAPI OutputDebugStringA(LPCSTR text) {
    if (text == nullptr) return;
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::shared_lock lock(g_lock);
    if (g_hook != nullptr) {
        g_hook(line.c_str(), g_context);
        return;
    }
    line += '\n';
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void SetDebugOutputHook(DEBUGOUTPUTHOOK hook, void* context) {
    std::unique_lock lock(g_lock);
    g_hook = hook;
    g_context = context;
}
