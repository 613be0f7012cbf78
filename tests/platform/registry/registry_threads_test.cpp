// Threads of one process changing the registry at once, through handles of their own and
// through one handle they share.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/registry/registry_tree.h"
#include "platform/winreg.h"
#include "tests/platform/ole/com_testenv.h"

namespace {

class RegistryThreads : public ScratchRegistry {};

// How many entries `enumerate` (RegEnumValueA or RegEnumKeyExA) finds in `key`.
template <class Enumerate>
DWORD CountEntries(HKEY key, Enumerate enumerate) {
    char name[32];
    DWORD count = 0;
    for (;; ++count) {
        DWORD size = sizeof name;
        if (enumerate(key, count, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return count;
    }
}

TEST_F(RegistryThreads, ConcurrentChangesAllLand) {
    constexpr int kThreads = 4, kWrites = 25;
    HKEY shared;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Shared", &shared), ERROR_SUCCESS);
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kWrites; ++i) {
                std::string n = std::to_string(t) + "-" + std::to_string(i);
                HKEY own;
                if (RegCreateKeyA(HKEY_CLASSES_ROOT, ("Thread\\" + n).c_str(), &own) !=
                    ERROR_SUCCESS) {
                    ++failures[t];
                    continue;
                }
                if (RegSetValueExA(own, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(n.c_str()),
                                   static_cast<DWORD>(n.size() + 1)) != ERROR_SUCCESS)
                    ++failures[t];
                RegCloseKey(own);
                if (RegSetValueExA(shared, n.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(n.c_str()),
                                   static_cast<DWORD>(n.size() + 1)) != ERROR_SUCCESS)
                    ++failures[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;

    EXPECT_EQ(CountEntries(shared, RegEnumValueA), static_cast<DWORD>(kThreads * kWrites));
    RegCloseKey(shared);
    HKEY parent;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Thread", 0, KEY_READ, &parent), ERROR_SUCCESS);
    EXPECT_EQ(CountEntries(parent, RegEnumKeyExA), static_cast<DWORD>(kThreads * kWrites));
    RegCloseKey(parent);
}

}  // namespace
