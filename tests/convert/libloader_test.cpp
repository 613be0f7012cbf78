// The platform's run-time library loading and system directory, as the conversion uses them.
#include <gtest/gtest.h>

#include <string>

#include "platform/libloaderapi.h"
#include "support/TempDir.h"

using talrec::test::ScopedEnv;

namespace {

TEST(SystemDirectory, IsTheSettingWhenGivenElseTheFolderOfThePlatformLibrary) {
    {
        ScopedEnv set("TALREC_SYSTEM_DIR", "/opt/talrec/lib/");
        char buffer[512];
        EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 15u);
        EXPECT_STREQ(buffer, "/opt/talrec/lib");
        // Too small: the size needed with the terminator, nothing written.
        char small[8] = "keep";
        EXPECT_EQ(GetSystemDirectoryA(small, sizeof small), 16u);
        EXPECT_STREQ(small, "keep");
    }
    ScopedEnv empty("TALREC_SYSTEM_DIR", "");
    char buffer[512];
    ASSERT_GT(GetSystemDirectoryA(buffer, sizeof buffer), 0u);
    EXPECT_EQ(std::string(buffer), PLATFORM_LIBRARY_DIR);
}

TEST(RunTimeLibraries, LoadByPathLookUpAndFailCleanly) {
    HMODULE component = LoadLibraryA(PLATFORM_LIBRARY_DIR "/wmaudsdk.so");
    ASSERT_NE(component, nullptr);
    EXPECT_NE(GetProcAddress(component, "WMAudioCreateWriter"), nullptr);
    EXPECT_EQ(GetProcAddress(component, "NoSuchEntry"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    char name[1024];
    ASSERT_GT(GetModuleFileNameA(component, name, sizeof name), 0u);
    EXPECT_EQ(std::string(name), PLATFORM_LIBRARY_DIR "/wmaudsdk.so");
    char cut[8];
    EXPECT_EQ(GetModuleFileNameA(component, cut, sizeof cut), 8u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::string(cut), std::string(name, 7));
    EXPECT_EQ(FreeLibrary(component), TRUE);

    EXPECT_EQ(LoadLibraryA("/no/such/library.so"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(FreeLibrary(nullptr), FALSE);
}

}  // namespace
