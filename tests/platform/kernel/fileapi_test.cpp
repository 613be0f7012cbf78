#include "platform/fileapi.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "framework/filefind.h"
#include "platform/mbstring.h"
#include "platform/shlobj.h"
#include "support/TempDir.h"

using talrec::test::ScopedEnv;
using talrec::test::TempDir;
using talrec::test::WriteFile;

namespace {

TEST(FileAttributes, ReportFoldersReadOnlyFilesAndMissingPaths) {
    TempDir tmp;
    WriteFile(tmp / "plain");
    WriteFile(tmp / "ro");
    chmod((tmp / "ro").c_str(), 0444);
    EXPECT_EQ(GetFileAttributesA((tmp / "plain").c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesA((tmp / "ro").c_str()), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(GetFileAttributesA(tmp.path().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA((tmp / "missing").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA(""), INVALID_FILE_ATTRIBUTES);
}

TEST(DeleteFile, RefusesFoldersReadOnlyFilesAndLockedFiles) {
    TempDir tmp;
    EXPECT_FALSE(DeleteFileA(tmp.path().c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    WriteFile(tmp / "ro");
    chmod((tmp / "ro").c_str(), 0400);
    EXPECT_FALSE(DeleteFileA((tmp / "ro").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    WriteFile(tmp / "open");
    int fd = open((tmp / "open").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_SH), 0);  // as the platform's file layer holds an open file
    EXPECT_FALSE(DeleteFileA((tmp / "open").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    close(fd);
    EXPECT_TRUE(DeleteFileA((tmp / "open").c_str()));

    EXPECT_FALSE(DeleteFileA((tmp / "open").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(CreateDirectory, CreatesOneLevelOnly) {
    TempDir tmp;
    EXPECT_TRUE(CreateDirectoryA((tmp / "a").c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA((tmp / "a").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryA((tmp / "x/y").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(FindFiles, StarDotStarMatchesEveryNameAndTheFinderWalksThemAll) {
    TempDir tmp;
    for (const char* name : {"a.wav", "noext", ".dot"}) WriteFile(tmp / name);
    std::filesystem::create_directory(tmp / "sub");

    std::set<std::string> names;
    CFileFind finder;
    BOOL more = finder.FindFile((tmp / "*.*").c_str());
    while (more) {
        more = finder.FindNextFile();
        names.insert(finder.GetFileName());
        EXPECT_EQ(finder.GetFilePath(), tmp / finder.GetFileName());
        EXPECT_EQ(finder.IsDirectory() != FALSE, finder.IsDots() || finder.GetFileName() == "sub");
    }
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "a.wav", "noext", ".dot", "sub"}));

    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA((tmp / "*.mp3").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileA((tmp / "missing/*.*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(ResolvePath, FollowsLinksAndRefusesDotsInTheMissingPart) {
    TempDir tmp;
    std::filesystem::create_directories(tmp / "real/inner");
    std::filesystem::create_symlink(tmp / "real", tmp / "link");
    std::string real = std::filesystem::canonical(tmp.path()).string();
    std::string out;
    ASSERT_TRUE(talrec::platform::ResolvePath(tmp / "link/inner/../new.wav", out));
    EXPECT_EQ(out, real + "/real/new.wav");
    ASSERT_TRUE(talrec::platform::ResolvePath(tmp / "link/missing/new.wav", out));
    EXPECT_EQ(out, real + "/real/missing/new.wav");
    EXPECT_FALSE(talrec::platform::ResolvePath(tmp / "missing/../x", out));
    EXPECT_FALSE(talrec::platform::ResolvePath("", out));

    EXPECT_TRUE(talrec::platform::PathIsInside("/a/b/c", "/a/b"));
    EXPECT_TRUE(talrec::platform::PathIsInside("/a/b", "/a/b"));
    EXPECT_FALSE(talrec::platform::PathIsInside("/a/bc", "/a/b"));
}

TEST(SpecialFolder, ApplicationDataComesFromXdgDataHomeOrTheHomeFolder) {
    char buffer[MAX_PATH] = {};
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/srv/data/");
        ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_APPDATA, FALSE));
        EXPECT_STREQ(buffer, "/srv/data");
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "relative/ignored");
        ScopedEnv home("HOME", "/home/someone");
        ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_APPDATA, FALSE));
        EXPECT_STREQ(buffer, "/home/someone/.local/share");
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/" + std::string(MAX_PATH, 'x'));
        char untouched[MAX_PATH] = {};
        EXPECT_FALSE(SHGetSpecialFolderPathA(nullptr, untouched, CSIDL_APPDATA, FALSE));
        EXPECT_STREQ(untouched, "");
    }
}

TEST(MultibyteScan, FindsOnlyOnCharacterBoundaries) {
    const char* s = "ab\xC3\xA9Roaming";  // UTF-8 or single bytes: the match is found either way
    EXPECT_EQ(_mbsstr(s, "Roaming") - s, 4);
    EXPECT_EQ(_mbsstr("abc", "x"), nullptr);
    EXPECT_EQ(*CharNextA(""), '\0');
}

}  // namespace
