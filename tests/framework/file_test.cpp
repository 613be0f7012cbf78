// CFile: failures with their causes, and exclusive sharing within and across processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "framework/afx.h"

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

    static void MakeFile(const std::string& path, const std::string& contents) {
        std::ofstream(path, std::ios::binary) << contents;
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Opens and expects a CFileException; returns it.
    static CFileException OpenFails(const std::string& path, UINT flags) {
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
}

TEST_F(FileTest, TheShareFlagsLetOthersInForWhatTheyShare) {
    const std::string path = Path("shared.wav");
    MakeFile(path, "data");
    {
        CFile denyWrite(path.c_str(), CFile::modeRead | CFile::shareDenyWrite);
        CFile reader(path.c_str(), CFile::modeRead | CFile::shareDenyWrite);
        EXPECT_EQ(OpenFails(path, CFile::modeWrite | CFile::shareDenyNone).m_cause,
                  CFileException::sharingViolation);
    }
    {
        CFile none(path.c_str(), CFile::modeReadWrite | CFile::shareDenyNone);
        CFile other(path.c_str(), CFile::modeWrite | CFile::shareDenyNone);
        EXPECT_EQ(OpenFails(path, kRead).m_cause, CFileException::sharingViolation);
    }
}

TEST_F(FileTest, AFileWithoutWriteBitsIsNotWrittenWhoeverRunsTheProgram) {
    const std::string path = Path("locked.wav");
    MakeFile(path, "keep me");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    const CFileException e = OpenFails(path, kCreate);
    EXPECT_EQ(e.m_cause, CFileException::accessDenied);
    EXPECT_EQ(e.m_lOsError, static_cast<LONG>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Contents(path), "keep me");
}

TEST_F(FileTest, AFileHeldByAnotherProcessIsRefused) {
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
    CFile mine(path.c_str(), kRead);  // released when the child exited
}

}  // namespace
