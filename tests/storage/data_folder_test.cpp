#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/ext/grantedfolders.h"
#include "storage/DataFolder.h"
#include "storage/ScriptPaths.h"
#include "support/TempDir.h"

using talrec::test::Exists;
using talrec::test::ScopedEnv;
using talrec::test::TempDir;
using talrec::test::WriteFile;
namespace fs = std::filesystem;

namespace {

// Each test gets its own application-data folder.
class DataFolderTest : public ::testing::Test {
  protected:
    void UseAppData(const std::string& appData) {
        fs::create_directories(appData);
        env_.emplace("XDG_DATA_HOME", appData);
    }
    TempDir tmp_;
    std::optional<ScopedEnv> env_;
};

TEST_F(DataFolderTest, LiesDirectlyInAnApplicationDataFolderWithoutRoaming) {
    UseAppData(tmp_ / "share");
    std::string folder = ComputeDataFolder();
    EXPECT_EQ(folder, tmp_ / "share/quorvex");
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(DataFolderTest, EveryRoamingBecomesLocalLowAndOnlyTheLastComponentIsCreated) {
    // The user's own folder name holds "Roaming" too: every occurrence is replaced.
    UseAppData(tmp_ / "RoamingUser/AppData/Roaming");
    std::string expected = tmp_ / "LocalLowUser/AppData/LocalLow/quorvex";
    EXPECT_EQ(ComputeDataFolder(), expected);
    EXPECT_FALSE(Exists(expected)) << "a missing parent is not created";

    fs::create_directories(tmp_ / "LocalLowUser/AppData/LocalLow");
    EXPECT_EQ(ComputeDataFolder(), expected);
    EXPECT_TRUE(fs::is_directory(expected));
}

TEST_F(DataFolderTest, ReplacementDoesNotRescanInsertedText) {
    UseAppData(tmp_ / "RoamingRoaming");
    EXPECT_EQ(ComputeDataFolder(), tmp_ / "LocalLowLocalLow/quorvex");
}

TEST_F(DataFolderTest, DeleteAllDeletesEveryFileAndLeavesSubFolders) {
    UseAppData(tmp_ / "share");
    std::string folder = ComputeDataFolder();
    for (const char* name : {"a.wav", "b.wma", "notes.txt", ".hidden", "noext"}) {
        WriteFile(folder + "/" + name);
    }
    fs::create_directory(folder + "/sub");
    WriteFile(folder + "/sub/kept.wav");

    EXPECT_EQ(DeleteAudioFileALL(), 0);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder)) left.push_back(entry.path().string());
    EXPECT_EQ(left, std::vector<std::string>{folder + "/sub"});
    EXPECT_TRUE(Exists(folder + "/sub/kept.wav"));
    EXPECT_EQ(DeleteAudioFileALL(), 0) << "an empty folder";
}

TEST_F(DataFolderTest, DeleteAllReportsAReadOnlyFileAndStillDeletesTheRest) {
    UseAppData(tmp_ / "share");
    std::string folder = ComputeDataFolder();
    WriteFile(folder + "/first.wav");
    WriteFile(folder + "/locked.wav");
    WriteFile(folder + "/last.wav");
    chmod((folder + "/locked.wav").c_str(), 0444);  // refused even when the tests run as root

    EXPECT_EQ(DeleteAudioFileALL(), 1);
    EXPECT_TRUE(Exists(folder + "/locked.wav"));
    EXPECT_FALSE(Exists(folder + "/first.wav"));
    EXPECT_FALSE(Exists(folder + "/last.wav"));
}

TEST_F(DataFolderTest, DeleteAllTakesALinkToAFolderAsAFolderAndALinkToAFileAsAFile) {
    UseAppData(tmp_ / "share");
    std::string folder = ComputeDataFolder();
    fs::create_directory(tmp_ / "target");
    WriteFile(tmp_ / "target.wav");
    fs::create_directory_symlink(tmp_ / "target", folder + "/to-folder");
    fs::create_symlink(tmp_ / "target.wav", folder + "/to-file.wav");

    EXPECT_EQ(DeleteAudioFileALL(), 0);
    EXPECT_TRUE(fs::is_symlink(folder + "/to-folder"));
    EXPECT_FALSE(Exists(folder + "/to-file.wav")) << "the link goes";
    EXPECT_TRUE(Exists(tmp_ / "target.wav")) << "not what it points to";
}

TEST_F(DataFolderTest, DeleteAllCreatesAMissingFolderAndFindsNothing) {
    UseAppData(tmp_ / "share");
    EXPECT_EQ(DeleteAudioFileALL(), 0);
    EXPECT_TRUE(fs::is_directory(tmp_ / "share/quorvex"));
}

TEST_F(DataFolderTest, DeleteOneFileInsideTheAllowedFolders) {
    UseAppData(tmp_ / "share");
    std::string folder = ComputeDataFolder();
    WriteFile(folder + "/take.wav");
    EXPECT_EQ(DeleteAudioFile((folder + "/take.wav").c_str()), 0);
    EXPECT_FALSE(Exists(folder + "/take.wav"));
    EXPECT_EQ(DeleteAudioFile((folder + "/take.wav").c_str()), 1) << "missing";
    EXPECT_EQ(DeleteAudioFile(nullptr), 1);
    EXPECT_EQ(DeleteAudioFile(""), 1);
    EXPECT_EQ(DeleteAudioFile(folder.c_str()), 1) << "the folder itself";
}

TEST_F(DataFolderTest, ScriptPathsOutsideTheAllowedFoldersAreRefused) {
    UseAppData(tmp_ / "share");
    std::string folder = ComputeDataFolder();
    fs::create_directory(tmp_ / "elsewhere");
    std::string victim = tmp_ / "elsewhere/victim.wav";
    WriteFile(victim);
    fs::create_symlink(tmp_ / "elsewhere", folder + "/link");

    EXPECT_FALSE(IsScriptPathAllowed(victim));
    EXPECT_FALSE(IsScriptPathAllowed(folder + "/../../elsewhere/victim.wav"));
    EXPECT_FALSE(IsScriptPathAllowed(folder + "/link/victim.wav"));
    EXPECT_FALSE(IsScriptPathAllowed(folder)) << "the folder itself";

    // A folder the container grants is as good as the data folder.
    talrec::platform::ContainerGrantFolder(tmp_ / "elsewhere");
    EXPECT_TRUE(IsScriptPathAllowed(victim));
    talrec::platform::ContainerRevokeFolders();
}

TEST_F(DataFolderTest, ScriptPathsMayNameFilesThatDoNotExistYet) {
    UseAppData(tmp_ / "share");
    std::string folder = ComputeDataFolder();
    EXPECT_TRUE(IsScriptPathAllowed(folder + "/new.wav"));
    EXPECT_TRUE(IsScriptPathAllowed(folder + "/missing-sub/new.wav"));
    EXPECT_FALSE(IsScriptPathAllowed(folder + "/missing-sub/../../outside.wav"));
    EXPECT_FALSE(IsScriptPathAllowed(tmp_ / "share/outside.wav"));
    EXPECT_FALSE(IsScriptPathAllowed("relative.wav"));
}

}  // namespace
