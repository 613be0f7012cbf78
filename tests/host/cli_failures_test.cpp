// Failures a user of the talrec command sees: a registration after damage to the registry, a
// control left unmarked for safe scripting, `talrec host` without a registered control, and a
// recording from an input that does not open.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "host/HostProcess.h"
#include "platform/objbase.h"
#include "platform/winreg.h"
#include "support/TempDir.h"

namespace talrec::test {
namespace {

constexpr char kScripting[] = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
constexpr char kInitializing[] = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}";

struct Result {
    int status;
    std::string out, err;
};

class CliFailures : public ::testing::Test {
  protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override {
        CoFreeUnusedLibraries();
        CoUninitialize();
    }

    // Runs talrec with the arguments (and environment settings before it, as a shell takes
    // them), standard input empty.
    Result Talrec(const std::string& args, const std::string& env = "") {
        const std::string out = tmp_ / "out", err = tmp_ / "err";
        const std::string command = env + " '" + BinDir() + "/talrec' " + args + " </dev/null >'" +
                                    out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
    }
    std::string Registry() const { return tmp_ / "registry"; }
    std::string ControlClass() {
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(OLESTR("TALRECORDERFORDV.TalRecorderForDvCtrl.1"), &clsid), S_OK);
        OLECHAR text[40] = {};
        StringFromGUID2(clsid, text, 40);
        return std::string(text, text + 38);
    }

    TempDir tmp_;
    ScopedEnv registry_{"TALREC_REGISTRY", Registry()};
};

TEST_F(CliFailures, OneRegistrationOrRemovalAfterDamageSucceeds) {
    ASSERT_EQ(Talrec("register").status, 0);
    const std::string whole = ReadFile(Registry());
    std::string noise(2048, '\0');
    std::mt19937 random(7);
    for (char& c : noise) c = static_cast<char>(random());
    for (const auto& [what, damage] : {std::pair<std::string, std::string>{"random bytes", noise},
                                       {"truncated", whole.substr(0, whole.size() / 2)},
                                       {"empty", ""}}) {
        SCOPED_TRACE(what);
        WriteFile(Registry(), damage);
        const Result r = Talrec("register");
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(ReadFile(Registry() + ".damaged"), damage) << "the damaged file is kept aside";
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(OLESTR("TALRECORDERFORDV.TalRecorderForDvCtrl.1"), &clsid), S_OK);
        IUnknown* control = nullptr;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&control)),
                  S_OK);
        if (control != nullptr) control->Release();
    }
    WriteFile(Registry(), noise);
    const Result r = Talrec("unregister");
    EXPECT_EQ(r.status, 0) << "a removal after damage too: " << r.out << r.err;
}

// The marks are removed and the registry made read-only: the module finds every other entry
// in place and succeeds, while marking the class fails, which the module does not report.
TEST_F(CliFailures, RegisterNamesTheSafetyCategoriesTheControlLacks) {
    ASSERT_EQ(Talrec("register").status, 0);
    const std::string marks = "CLSID\\" + ControlClass() + "\\Implemented Categories";
    ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, (marks + "\\" + kScripting).c_str()),
              ERROR_SUCCESS);
    ASSERT_EQ(chmod(Registry().c_str(), 0444), 0);
    Result r = Talrec("register");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("DllRegisterServer: 0x00000000"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(std::string("not marked safe for scripting (category ") + kScripting),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find(kInitializing), std::string::npos) << "only the missing one";

    ASSERT_EQ(chmod(Registry().c_str(), 0644), 0);
    ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, marks.c_str()), ERROR_SUCCESS);
    ASSERT_EQ(chmod(Registry().c_str(), 0444), 0);
    r = Talrec("register");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(kScripting), std::string::npos) << r.err;
    EXPECT_NE(
        r.err.find(std::string("not marked safe for initializing (category ") + kInitializing),
        std::string::npos)
        << r.err;

    ASSERT_EQ(chmod(Registry().c_str(), 0644), 0);
    r = Talrec("register");
    EXPECT_EQ(r.status, 0) << "marked again: " << r.err;
}

// Every command reads its command line through the one parser: a wrong one exits 2 with the
// fault named and the usage line, --help exits 0 with it, before anything is done.
TEST_F(CliFailures, EveryCommandLineIsReadAgainstItsCommand) {
    const struct {
        const char* args;
        int status;
        const char* says;
    } kCases[] = {
        {"serve --port", 2, "talrec serve: --port needs a value"},
        {"serve --port=http", 2, "--port takes a number from 0 to 65535"},
        {"record", 2, "usage: talrec record FILE [--seconds N]"},
        {"record a.wav b.wav", 2, "unexpected argument b.wav"},
        {"record --seconds=0 a.wav", 2, "--seconds takes a positive number"},
        {"recover --bogus", 2, "unknown option --bogus"},
        {"host --no-window=yes", 2, "--no-window takes no value"},
        {"devices extra", 2, "unexpected argument extra"},
        {"open extra", 2, "unexpected argument extra"},
        {"convert only-one.wav", 2, "usage: talrec convert SOURCE.wav DEST.wma"},
    };
    for (const auto& c : kCases) {
        const Result r = Talrec(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.args;
    }
    const std::string list = Talrec("--help").out;
    for (const char* command : {"demo", "record", "recover", "play", "devices", "register",
                                "unregister", "host", "serve", "open", "pair", "convert"}) {
        const Result r = Talrec(std::string(command) + " --help");
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("usage: talrec ") + command, 0), 0u) << r.out;
        EXPECT_NE(list.find(std::string("  ") + command), std::string::npos) << list;
    }
    const Result none = Talrec("open", "XDG_RUNTIME_DIR='" + tmp_ / "run" + "'");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no talrec bridge runs; start one"), std::string::npos) << none.err;
}

TEST_F(CliFailures, HostWithoutARegisteredControlExits3) {
    EXPECT_EQ(Talrec("host").status, 3) << "an empty registry";
    ASSERT_EQ(Talrec("register").status, 0);
    EXPECT_EQ(Talrec("host").status, 0) << "registered: ends with its input";
    ASSERT_EQ(Talrec("unregister").status, 0);
    const Result r = Talrec("host");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("talrec host: "), std::string::npos);
}

// The control reports nothing to a script when its input does not open; the command finds the
// take empty (the header alone), keeps the file and fails. `talrec devices` marks no device.
TEST_F(CliFailures, RecordingFromAnInputThatDoesNotOpenFails) {
    ASSERT_EQ(Talrec("register").status, 0);
    const std::string file = tmp_ / "nothing.wav";
    const Result r =
        Talrec("record '" + file + "' --seconds 1", "TALREC_WAVE_DEVICE=alsa:nosuchpcm");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("nothing was recorded"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(file).size(), 44u) << "the file is written as it is";
    for (const std::string device : {"alsa:nosuchpcm", "virtual", "alsa:null"}) {
        const Result listed = Talrec("devices", "TALREC_WAVE_DEVICE=" + device);
        EXPECT_EQ(listed.out.find("  * ") != std::string::npos, device != "alsa:nosuchpcm")
            << device << ": marked when it opens\n"
            << listed.out;
    }

    const Result good = Talrec("record '" + file + "' --seconds 0.5", "TALREC_WAVE_DEVICE=virtual");
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_GT(ReadFile(file).size(), 44u);
}

}  // namespace
}  // namespace talrec::test
