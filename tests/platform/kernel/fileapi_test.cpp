#include "platform/fileapi.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include "framework/filefind.h"
#include "platform/ext/paths.h"
#include "platform/handleapi.h"
#include "platform/mbstring.h"
#include "platform/shlobj.h"
#include "support/TempDir.h"

using talrec::test::Exists;
using talrec::test::ScopedEnv;
using talrec::test::TempDir;
using talrec::test::WriteFile;

namespace {

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// The open fails, with this last error.
void ExpectRefused(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD error) {
    SetLastError(0);
    const HANDLE h = Open(path, access, share, disposition);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(GetLastError(), error) << path;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TEST(CreateFile, DispositionsCreateTruncateOrKeepWithTheirLastErrors) {
    TempDir tmp;
    const std::string path = tmp / "f";
    HANDLE h = Open(path, GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD n = 0;
    EXPECT_TRUE(WriteFile(h, "hello", 5, &n, nullptr));
    EXPECT_EQ(n, 5u);
    CloseHandle(h);
    ExpectRefused(path, GENERIC_WRITE, 0, CREATE_NEW, ERROR_FILE_EXISTS);

    h = Open(path, GENERIC_READ, 0, OPEN_ALWAYS);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(h, nullptr), 5u) << "kept";
    CloseHandle(h);
    h = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(h, nullptr), 0u) << "emptied";
    CloseHandle(h);

    ExpectRefused(tmp / "missing", GENERIC_READ, 0, OPEN_EXISTING, ERROR_FILE_NOT_FOUND);
    ExpectRefused(tmp / "no/f", GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND);
    ExpectRefused(path + "/x", GENERIC_READ, 0, OPEN_EXISTING, ERROR_PATH_NOT_FOUND);
    ExpectRefused("", GENERIC_READ, 0, OPEN_EXISTING, ERROR_PATH_NOT_FOUND);
    ExpectRefused(path, GENERIC_READ, 0, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER);
}

TEST(CreateFile, OnlyRegularFilesOpenAndNothingElseIsWaitedOn) {
    TempDir tmp;
    ASSERT_EQ(mkfifo((tmp / "pipe").c_str(), 0666), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", (tmp / "sock").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // Without a peer, a pipe opened for reading or writing would wait for good.
    for (const std::string& special :
         {tmp / "pipe", tmp / "sock", std::string("/dev/null"), tmp.path()}) {
        ExpectRefused(special, GENERIC_READ, kShareAll, OPEN_EXISTING, ERROR_ACCESS_DENIED);
        ExpectRefused(special, GENERIC_WRITE, kShareAll, OPEN_ALWAYS, ERROR_ACCESS_DENIED);
    }
    close(sock);
}

TEST(CreateFile, AFileWithoutWriteBitsIsNotOpenedForWritingEvenByRoot) {
    TempDir tmp;
    const std::string path = tmp / "ro";
    WriteFile(path, "keep");
    chmod(path.c_str(), 0444);
    ExpectRefused(path, GENERIC_WRITE, 0, OPEN_EXISTING, ERROR_ACCESS_DENIED);
    ExpectRefused(path, GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_ACCESS_DENIED);
    HANDLE h = Open(path, GENERIC_READ, 0);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(talrec::test::ReadFile(path), "keep");
}

TEST(ShareModes, EachOpenIsCheckedAgainstTheAccessAndSharingOfTheOthers) {
    TempDir tmp;
    const std::string path = tmp / "f";
    WriteFile(path, "contents");
    const HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const HANDLE second = Open(path, GENERIC_READ, FILE_SHARE_READ);
    EXPECT_NE(second, INVALID_HANDLE_VALUE) << "both read and share reading";
    ExpectRefused(path, GENERIC_WRITE, kShareAll, OPEN_EXISTING, ERROR_SHARING_VIOLATION);
    ExpectRefused(path, GENERIC_READ, 0, OPEN_EXISTING, ERROR_SHARING_VIOLATION);
    ExpectRefused(path, GENERIC_WRITE, kShareAll, CREATE_ALWAYS, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(talrec::test::ReadFile(path), "contents") << "a refused create truncates nothing";
    CloseHandle(reader);
    CloseHandle(second);

    // Writers that share with each other, each with a slot of its own.
    const HANDLE w1 = Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    const HANDLE w2 = Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_NE(w1, INVALID_HANDLE_VALUE);
    EXPECT_NE(w2, INVALID_HANDLE_VALUE);
    ExpectRefused(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, ERROR_SHARING_VIOLATION);
    CloseHandle(w1);
    CloseHandle(w2);
    const HANDLE alone = Open(path, GENERIC_READ | GENERIC_WRITE, 0);
    EXPECT_NE(alone, INVALID_HANDLE_VALUE) << "the closes released everything";
    CloseHandle(alone);
}

TEST(ShareModes, AHandleInAnotherProcessKeepsTheFileFromBeingDeleted) {
    TempDir tmp;
    const std::string path = tmp / "f";
    WriteFile(path);
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const HANDLE h = Open(path, GENERIC_READ, FILE_SHARE_READ);
        char c = h != INVALID_HANDLE_VALUE ? 1 : 0;
        if (write(ready[1], &c, 1) != 1 || read(release[0], &c, 1) != 1) _exit(2);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 1) << "the child opened the file";
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    ExpectRefused(path, GENERIC_WRITE, kShareAll, OPEN_EXISTING, ERROR_SHARING_VIOLATION);
    ASSERT_EQ(write(release[1], &c, 1), 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
    EXPECT_TRUE(DeleteFileA(path.c_str())) << "released when the child ended";
}

TEST(FileHandles, ReadWriteMoveAndCutWithinTheirAccess) {
    TempDir tmp;
    const HANDLE h = Open(tmp / "f", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
    EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_END), 6u);
    char buffer[16] = {};
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "world");
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(n, 0u) << "at the end";
    EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    LARGE_INTEGER to, at;
    to.QuadPart = 5;
    ASSERT_TRUE(SetFilePointerEx(h, to, &at, FILE_BEGIN));
    EXPECT_EQ(at.QuadPart, 5);
    ASSERT_TRUE(SetEndOfFile(h));
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 5);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReadFile(h, buffer, 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    const HANDLE ro = Open(tmp / "f", GENERIC_READ, 0);
    EXPECT_FALSE(WriteFile(ro, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(SetEndOfFile(ro));
    CloseHandle(ro);
}

TEST(FileHandles, OneFileHasOneIdentityThroughEveryLink) {
    TempDir tmp;
    WriteFile(tmp / "f");
    WriteFile(tmp / "other");
    std::filesystem::create_hard_link(tmp / "f", tmp / "hard");
    std::filesystem::create_symlink(tmp / "f", tmp / "soft");
    auto identity = [](const std::string& path) {
        const HANDLE h = Open(path, 0, kShareAll);
        BY_HANDLE_FILE_INFORMATION info{};
        EXPECT_TRUE(GetFileInformationByHandle(h, &info)) << path;
        CloseHandle(h);
        return std::make_tuple(info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow,
                               info.nNumberOfLinks);
    };
    EXPECT_EQ(identity(tmp / "hard"), identity(tmp / "f"));
    EXPECT_EQ(identity(tmp / "soft"), identity(tmp / "f"));
    EXPECT_EQ(std::get<3>(identity(tmp / "f")), 2u);
    EXPECT_NE(identity(tmp / "other"), identity(tmp / "f"));
}

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

TEST(DeleteFile, RefusesFoldersReadOnlyFilesAndFilesHeldWithoutSharingDeletion) {
    TempDir tmp;
    EXPECT_FALSE(DeleteFileA(tmp.path().c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    WriteFile(tmp / "ro");
    chmod((tmp / "ro").c_str(), 0400);
    EXPECT_FALSE(DeleteFileA((tmp / "ro").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    WriteFile(tmp / "open");
    HANDLE held = Open(tmp / "open", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileA((tmp / "open").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(held);
    held = Open(tmp / "open", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
    EXPECT_TRUE(DeleteFileA((tmp / "open").c_str())) << "the handle shares deletion";
    CloseHandle(held);

    EXPECT_FALSE(DeleteFileA((tmp / "open").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// A folder that keeps turning into a link to a folder outside and back while a confined
// thread creates and deletes files through it: nothing outside is ever made or deleted.
TEST(PathConfinement, AFolderTurnedIntoALinkNeverLeadsOutside) {
    TempDir tmp;
    const std::string root = tmp / "root";
    std::filesystem::create_directories(root + "/real");
    std::filesystem::create_directory_symlink(tmp.path(), root + "/link");
    WriteFile(tmp / "kept");
    std::string resolved;
    ASSERT_TRUE(talrec::platform::ResolvePath(root, resolved));
    std::jthread swapper([&](std::stop_token stop) {
        for (const char* name = "/real"; !stop.stop_requested();
             name = name[1] == 'r' ? "/link" : "/real") {
            std::filesystem::rename(root + name, root + "/sub");
            std::filesystem::rename(root + "/sub", root + name);
        }
    });
    talrec::platform::PathConfinement confined({resolved});
    for (int i = 0; i < 3000; ++i) {
        CloseHandle(Open(root + "/sub/made", GENERIC_WRITE, 0, CREATE_ALWAYS));
        DeleteFileA((root + "/sub/kept").c_str());
    }
    swapper.request_stop();
    swapper.join();
    EXPECT_FALSE(Exists(tmp / "made"));
    EXPECT_TRUE(Exists(tmp / "kept"));
    ExpectRefused(root + "/link/made", GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(Open(root + "/real/made", GENERIC_WRITE, 0, CREATE_ALWAYS)));
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

TEST(FindFiles, ALinkToAFolderIsAFolderAndALinkToAFileIsNot) {
    TempDir tmp;
    std::filesystem::create_directory(tmp / "dir");
    WriteFile(tmp / "file");
    std::filesystem::create_directory_symlink(tmp / "dir", tmp / "to-dir");
    std::filesystem::create_symlink(tmp / "file", tmp / "to-file");
    std::filesystem::create_symlink(tmp / "nowhere", tmp / "dangling");
    WIN32_FIND_DATAA data;
    auto found = [&](const char* name) {
        const HANDLE h = FindFirstFileA((tmp / name).c_str(), &data);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << name;
        FindClose(h);
        return data.dwFileAttributes;
    };
    EXPECT_EQ(found("to-dir"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(found("to-file"), FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(found("dangling"), FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_TRUE(GetFileAttributesA((tmp / "to-dir").c_str()) & FILE_ATTRIBUTE_DIRECTORY);

    EXPECT_FALSE(DeleteFileA((tmp / "to-dir").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(DeleteFileA((tmp / "to-file").c_str()));
    EXPECT_TRUE(talrec::test::Exists(tmp / "file")) << "the link went, not the file";
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
    // Opening a link that points nowhere creates what it points to, wherever that is.
    std::filesystem::create_symlink("/elsewhere/new.wav", tmp / "real/dangling.wav");
    EXPECT_FALSE(talrec::platform::ResolvePath(tmp / "real/dangling.wav", out));

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
