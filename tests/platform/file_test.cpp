// CFile: open modes, failures with their causes, and sharing within and across processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/afx.h"

namespace {

class FileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("talrec-file-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
                std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    void MakeFile(const std::string& path, const std::string& contents) {
        std::ofstream(path, std::ios::binary) << contents;
    }
    std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Opens and expects a CFileException; returns it.
    CFileException OpenFails(const std::string& path, UINT flags) {
        try {
            CFile f(path.c_str(), flags);
        } catch (CFileException& e) {
            return e;
        }
        ADD_FAILURE() << path << " opened";
        return CFileException();
    }

    std::filesystem::path dir_;
};

constexpr UINT kRead = CFile::modeRead | CFile::shareExclusive;
constexpr UINT kCreate = CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive;

TEST_F(FileTest, CreateTruncatesWritesAndReadReadsBack) {
    const std::string path = Path("a.bin");
    MakeFile(path, "old contents that are longer");
    {
        CFile f(path.c_str(), kCreate);
        EXPECT_EQ(f.GetLength(), 0u);
        f.Write("hello", 5);
        EXPECT_EQ(f.GetPosition(), 5u);
        EXPECT_EQ(f.GetFileName(), "a.bin");
        EXPECT_EQ(f.GetFilePath(), path);
    }
    EXPECT_EQ(Contents(path), "hello");

    {
        CFile f(path.c_str(), kCreate | CFile::modeNoTruncate);
        f.SeekToEnd();
        f.Write(" world", 6);
    }
    CFile f(path.c_str(), kRead);
    char buf[32] = {};
    EXPECT_EQ(f.Read(buf, 4), 4u);
    EXPECT_EQ(f.Read(buf + 4, sizeof buf - 4), 7u);  // short only at the end
    EXPECT_STREQ(buf, "hello world");
    EXPECT_EQ(f.Read(buf, 1), 0u);
    EXPECT_EQ(f.Seek(-5, CFile::end), 6u);
    f.Close();
    EXPECT_FALSE(f.IsOpen());
}

TEST_F(FileTest, OpenFailuresCarryCauseOsErrorAndLastPathComponent) {
    CFileException e = OpenFails(Path("missing.wav"), kRead);
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(e.m_lOsError, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(e.m_strFileName, "missing.wav");
    EXPECT_NE(std::string(e.what()).find("missing.wav"), std::string::npos);

    e = OpenFails(Path("no-such-folder/x.wav"), kCreate);
    EXPECT_EQ(e.m_cause, CFileException::badPath);
    EXPECT_EQ(e.m_lOsError, static_cast<LONG>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(e.m_strFileName, "x.wav");

    // A folder is not a file, whether read or written.
    std::filesystem::create_directory(Path("folder"));
    e = OpenFails(Path("folder"), kRead);
    EXPECT_EQ(e.m_cause, CFileException::accessDenied);
    EXPECT_EQ(e.m_lOsError, static_cast<LONG>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(OpenFails(Path("folder"), kCreate).m_cause, CFileException::accessDenied);

    // Open reports through its out-parameter instead of throwing.
    CFile f;
    CFileException out;
    EXPECT_FALSE(f.Open(Path("missing.wav").c_str(), kRead, &out));
    EXPECT_EQ(out.m_cause, CFileException::fileNotFound);
    EXPECT_FALSE(f.IsOpen());
}

TEST_F(FileTest, ReadAndWriteFailuresThrow) {
    const std::string path = Path("b.bin");
    MakeFile(path, "abc");
    {
        CFile f(path.c_str(), kRead);
        try {
            f.Write("x", 1);
            ADD_FAILURE() << "write to a read-only file";
        } catch (CFileException& e) {
            EXPECT_EQ(e.m_cause, CFileException::accessDenied);
            EXPECT_EQ(e.m_strFileName, "b.bin");
        }
    }
    {
        CFile f(path.c_str(), kCreate);
        char c;
        EXPECT_THROW(f.Read(&c, 1), CFileException);
        EXPECT_THROW(f.Seek(-1, CFile::begin), CFileException);
    }
    // A full disk.
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    CFile full("/dev/full", CFile::modeWrite | CFile::shareDenyNone);
    try {
        full.Write("data", 4);
        ADD_FAILURE() << "write to /dev/full";
    } catch (CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::diskFull);
        EXPECT_EQ(e.m_lOsError, static_cast<LONG>(ERROR_DISK_FULL));
        EXPECT_EQ(e.m_strFileName, "full");
    }
}

TEST_F(FileTest, SecondOpenFailsWhileTheFirstIsOpen) {
    const std::string path = Path("shared.wav");
    MakeFile(path, "keep me");
    {
        CFile first(path.c_str(), kRead);
        CFileException e = OpenFails(path, kRead);
        EXPECT_EQ(e.m_cause, CFileException::sharingViolation);
        EXPECT_EQ(e.m_lOsError, static_cast<LONG>(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(e.m_strFileName, "shared.wav");
        // A refused create must not have truncated the file held open.
        EXPECT_EQ(OpenFails(path, kCreate).m_cause, CFileException::sharingViolation);
        EXPECT_EQ(Contents(path), "keep me");
        // The default share mode is exclusive too.
        EXPECT_EQ(OpenFails(path, CFile::modeRead).m_cause, CFileException::sharingViolation);
    }
    CFile again(path.c_str(), kCreate);  // the first one's close released it
    EXPECT_TRUE(again.IsOpen());
}

TEST_F(FileTest, SharingHoldsAcrossProcesses) {
    const std::string path = Path("across.wav");
    MakeFile(path, "held by the child");
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Child: hold the file open until told to let go.
        int status = 0;
        try {
            CFile held(path.c_str(), kRead);
            char c = 1;
            if (::write(ready[1], &c, 1) != 1) status = 2;
            if (::read(release[0], &c, 1) != 1) status = 3;
        } catch (...) {
            status = 1;
        }
        ::_exit(status);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(OpenFails(path, kRead).m_cause, CFileException::sharingViolation);
    EXPECT_EQ(OpenFails(path, kCreate).m_cause, CFileException::sharingViolation);
    EXPECT_EQ(Contents(path), "held by the child");
    ASSERT_EQ(::write(release[1], &c, 1), 1);
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);

    // Once the child has exited the file opens; now the child side is refused.
    CFile mine(path.c_str(), kRead);
    const pid_t second = ::fork();
    ASSERT_GE(second, 0);
    if (second == 0) {
        int cause = 0;
        try {
            CFile refused(path.c_str(), kRead);
        } catch (CFileException& e) {
            cause = e.m_cause;
        }
        ::_exit(cause);
    }
    ASSERT_EQ(::waitpid(second, &status, 0), second);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), CFileException::sharingViolation);
}

TEST(FileException, MessageNamesTheFileAndFitsTheBuffer) {
    CFileException e(CFileException::invalidFile, -1, "take.wav");
    char text[256];
    UINT help = 7;
    ASSERT_TRUE(e.GetErrorMessage(text, sizeof text, &help));
    EXPECT_EQ(help, 0u);
    EXPECT_NE(std::string(text).find("take.wav"), std::string::npos);
    EXPECT_STREQ(text, e.what());

    char small[6];
    ASSERT_TRUE(e.GetErrorMessage(small, sizeof small));
    EXPECT_EQ(std::strlen(small), 5u);
    EXPECT_FALSE(e.GetErrorMessage(nullptr, 0));

    // Every cause has its own text.
    std::set<std::string> texts;
    for (int cause = CFileException::none; cause <= CFileException::endOfFile; ++cause) {
        texts.insert(CFileException(cause, -1, "f").what());
    }
    EXPECT_EQ(texts.size(), 15u);
}

TEST(MemFile, ReadsWritesAndSeeksLikeAFile) {
    CMemFile f;
    f.Write("abcdef", 6);
    EXPECT_EQ(f.GetLength(), 6u);
    f.Seek(2, CFile::begin);
    f.Write("XY", 2);
    f.Seek(8, CFile::begin);  // past the end: a write fills the gap with zeros
    f.Write("Z", 1);
    const std::vector<BYTE> expected = {'a', 'b', 'X', 'Y', 'e', 'f', 0, 0, 'Z'};
    EXPECT_EQ(f.GetContents(), expected);
    f.SeekToBegin();
    char buf[16];
    EXPECT_EQ(f.Read(buf, sizeof buf), 9u);
    EXPECT_EQ(f.Read(buf, 1), 0u);
    EXPECT_THROW(f.Seek(-1, CFile::begin), CFileException);
}

}  // namespace
