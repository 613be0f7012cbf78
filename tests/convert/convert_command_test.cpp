// `talrec convert` from the command line: exit statuses, where each kind of text goes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "AudioProbe.h"
#include "RecorderLog.h"
#include "support/TempDir.h"

using audioprobe::Quote;
using talrec::test::Exists;
using talrec::test::TempDir;

namespace {

struct Result {
    int exit;
    std::string out;
    std::string err;
};

// Runs talrec with the given arguments, standard output and error kept apart.
Result Talrec(const std::string& args, const TempDir& dir, bool setSystemDir = true) {
    const std::string out = dir / "stdout.txt";
    const std::string err = dir / "stderr.txt";
    const std::string env = setSystemDir ? "TALREC_SYSTEM_DIR=" + Quote(COMPONENT_DIR)
                                         : std::string("env -u TALREC_SYSTEM_DIR");
    const std::string command = env + " " + Quote(TALREC_EXE) + " " + args + " >" + Quote(out) +
                                " 2>" + Quote(err) + " </dev/null";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
}

TEST(ConvertCommand, ConvertsAndExitsWithZero) {
    if (!audioprobe::HaveTool("sox")) GTEST_SKIP() << "sox is needed to write the source";
    TempDir dir;
    const std::string source = dir / "in.wav";
    const std::string dest = dir / "out.wma";
    ASSERT_TRUE(audioprobe::RunCommand("sox -n -r 22050 -c 2 -b 16 " + Quote(source) +
                                       " synth 0.5 sine 440"));
    const Result r = Talrec("convert " + Quote(source) + " " + Quote(dest), dir);
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");  // not a terminal: no progress
    EXPECT_TRUE(Exists(dest));

    // Without the setting the component is found where the platform library is installed.
    const std::string again = dir / "again.wma";
    EXPECT_EQ(Talrec("convert " + Quote(source) + " " + Quote(again), dir, false).exit, 0);
    EXPECT_TRUE(Exists(again));
}

TEST(ConvertCommand, AFailureGivesTheDiagnosticLineTheStatusAndExitOne) {
    TempDir dir;
    const std::string missing = dir / "missing.wav";
    const Result r = Talrec("convert " + Quote(missing) + " " + Quote(dir / "out.wma"), dir);
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "Error Failed to open Wav File " + missing + "\n");
    EXPECT_NE(r.err.find("0x80004005"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("E_FAIL: "), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir / "out.wma"));
}

TEST(ConvertCommand, HelpAndUsage) {
    TempDir dir;
    const Result help = Talrec("convert --help", dir);
    EXPECT_EQ(help.exit, 0);
    EXPECT_NE(help.out.find("usage: talrec convert SOURCE.wav DEST.wma"), std::string::npos);
    const Result top = Talrec("--help", dir);
    EXPECT_EQ(top.exit, 0);
    EXPECT_NE(top.out.find("convert"), std::string::npos);
    EXPECT_EQ(Talrec("convert only-one.wav", dir).exit, 2);
    EXPECT_EQ(Talrec("no-such-command", dir).exit, 2);
    EXPECT_EQ(Talrec("", dir).exit, 2);
}

}  // namespace
