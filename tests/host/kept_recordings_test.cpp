// Through the real `talrec serve`, `talrec host` and `talrec record`: a recording that its
// container ends or its stop cannot write waits for `talrec recover` with every sample, a file
// played when its page goes is closed with its control, nothing lands outside the folders a
// page may use even when one becomes a link, and what is written is its owner's alone.
#include <sys/stat.h>

#include <thread>

#include "host/BridgeClient.h"
#include "host/HostFixture.h"

using namespace talrec::test;
using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

constexpr long long kDispException = -2147352567;
constexpr char kWaits[] = "waits for 'talrec recover' as ";

unsigned Mode(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class KeptTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        fs::create_directories(tmp_ / "run");
        fs::create_directories(tmp_ / "outside");
        env_["XDG_RUNTIME_DIR"] = tmp_ / "run";
    }
    std::string Data() const { return tmp_ / "data/quorvex"; }

    // `talrec ARGS` with the test's environment: what it writes on both outputs.
    std::string Talrec(const std::string& args) {
        std::string command;
        for (const auto& [name, value] : env_) command += name + "='" + value + "' ";
        FILE* pipe = popen((command + BinDir() + "/talrec " + args + " 2>&1").c_str(), "r");
        std::string out(1 << 16, '\0');
        out.resize(fread(out.data(), 1, out.size(), pipe));
        status_ = WEXITSTATUS(pclose(pipe));
        return out;
    }

    // Recovers every waiting recording into one folder: for each file written, the seconds of
    // sound when every sample counts up from the source's first, else -1.
    std::map<std::string, double> Recover() {
        const std::string into = tmp_ / "into";
        fs::create_directories(into);
        Talrec("recover --into " + into);
        EXPECT_EQ(status_, 0);
        std::map<std::string, double> seconds;
        for (const auto& entry : fs::directory_iterator(into)) {
            CWave wave;
            wave.Load(entry.path().c_str());
            const auto* samples = reinterpret_cast<const std::uint16_t*>(wave.GetBuffer());
            DWORD k = 0;
            while (k < wave.GetNumSamples() * 2 && samples[k] == static_cast<std::uint16_t>(k)) ++k;
            seconds[entry.path().filename()] = k == wave.GetNumSamples() * 2 ? k / 44100.0 : -1;
            EXPECT_EQ(Mode(entry.path()), 0600u) << entry.path();
        }
        return seconds;
    }

    int status_ = -1;
};

TEST_F(KeptTest, TheBridgeLosesNothingAPageLeavesAndWritesNothingOutside) {
    ServeProcess serve(env_, tmp_ / "serve.err");
    ASSERT_NE(serve.port(), 0) << serve.firstLine();
    auto connect = [&] {
        return std::make_unique<WsClient>(serve.port(), "/rpc?token=" + serve.token());
    };
    auto files = connect();
    ASSERT_EQ(files->Call("GetDataFolder").result(), Data());
    EXPECT_EQ(Mode(Data()), 0700u);

    // Recordings and conversions are their owner's alone; a file that exists keeps its mode.
    WriteFile(Data() + "/kept.wav");
    chmod((Data() + "/kept.wav").c_str(), 0644);
    for (const std::string name : {"/own.wav", "/kept.wav"}) {
        ASSERT_EQ(files->Call("recStart", {Data() + name}).result(), 0);
        std::this_thread::sleep_for(200ms);
        ASSERT_EQ(files->Call("recStop").result(), 0);
    }
    ASSERT_EQ(files->Call("ConvertWavToWMA", {Data() + "/own.wav", Data() + "/own.wma"}).result(),
              0);
    for (const std::string name : {"/own.wav", "/own.wma", "/kept.wav"}) {
        EXPECT_EQ(Mode(Data() + name), name == "/kept.wav" ? 0644u : 0600u) << name;
    }
    // A folder outside is answered as one that does not exist, whether it exists or not.
    for (const std::string& folder : {tmp_ / "outside", tmp_ / "nowhere", Data()}) {
        const std::size_t boxes = folder == Data() ? 0 : 1;
        EXPECT_EQ(files->Call("TempFolderPass", {folder}).notifications.size(), boxes) << folder;
    }

    // Pages that go while their file plays or is paused leave it free.
    for (const std::string name : {"/playing.wav", "/paused.wav"}) {
        fs::copy_file(CountingSource(), Data() + name);
        auto page = connect();
        ASSERT_EQ(page->Call("playStart", {Data() + name}).states(), States{"play-start"});
        if (name == "/paused.wav") page->Call("PlayPause");
    }
    for (const std::string name : {"/playing.wav", "/paused.wav"}) {
        int result = 1;
        for (int i = 0; i < 100 && result != 0; ++i, std::this_thread::sleep_for(100ms)) {
            result = files->Call("DeleteAudioFile", {Data() + name}).result();
        }
        EXPECT_EQ(result, 0) << name;
    }

    // A page that goes while it records, a stop into a folder swapped for a link to one
    // outside, a stop into a missing folder, and a signal while a page records.
    fs::create_directory(Data() + "/sub");
    {
        auto page = connect();
        ASSERT_EQ(page->Call("recStart", {Data() + "/closed.wav"}).result(), 0);
        std::this_thread::sleep_for(1s);
    }
    for (const std::string& path : {Data() + "/sub/swapped.wav", Data() + "/missing/x.wav"}) {
        ASSERT_EQ(files->Call("recStart", {path}).result(), 0);
        std::this_thread::sleep_for(1s);
        if (path.find("swapped") != std::string::npos) {
            fs::rename(Data() + "/sub", Data() + "/sub.old");
            fs::create_directory_symlink(tmp_ / "outside", Data() + "/sub");
        }
        const auto stop = files->Call("recStop");
        EXPECT_EQ(stop.reply.value(json::json_pointer("/error/code"), 0LL), kDispException) << path;
        EXPECT_TRUE(stop.states().empty());
    }
    ASSERT_EQ(files->Call("recStart", {Data() + "/signalled.wav"}).result(), 0);
    std::this_thread::sleep_for(1s);
    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.Wait(30s), 0) << ReadFile(tmp_ / "serve.err");
    EXPECT_EQ(Count(ReadFile(tmp_ / "serve.err"), kWaits), 4u) << ReadFile(tmp_ / "serve.err");
    EXPECT_TRUE(fs::is_empty(tmp_ / "outside"));
    for (const char* name : {"/closed.wav", "/sub.old/swapped.wav", "/signalled.wav"}) {
        EXPECT_FALSE(Exists(Data() + name)) << name;
    }
    const auto recovered = Recover();
    EXPECT_EQ(recovered.size(), 4u);
    for (const auto& [name, seconds] : recovered) EXPECT_GE(seconds, 0.5) << name;
}

TEST_F(KeptTest, TheHostAndTheCommandLineLoseNothingEither) {
    WriteFile(File("read-only.wav"));
    chmod(File("read-only.wav").c_str(), 0444);
    fs::create_directory(File("folder.wav"));
    fs::copy_file(CountingSource(), File("play.wav"));
    auto player = Start();
    ASSERT_EQ(player->Call("playStart", {File("play.wav")}).states(), States{"play-start"});
    auto host = Start();
    std::string said;
    for (const std::string& path : {File("folder.wav"), File("read-only.wav"), File("end.wav")}) {
        ASSERT_EQ(host->Call("recStart", {path}).result(), 0);
        host->Drain(1s);
        if (path == File("end.wav")) break;
        const auto stop = host->Call("recStop");
        EXPECT_EQ(stop.errorCode(), kDispException);
        for (const json& n : stop.notifications) said += n.dump();
    }
    player->CloseInput();
    host->CloseInput();
    for (const json& n : host->Drain(30s)) said += n.dump();
    EXPECT_EQ(player->Wait(30s), 0);
    EXPECT_EQ(host->Wait(30s), 0);
    EXPECT_EQ(Count(said, kWaits), 3u) << said;
    EXPECT_EQ(ReadFile(File("read-only.wav")), "x");

    // `talrec record` refuses such a file before it records anything.
    for (const std::string& path : {File("folder.wav"), File("read-only.wav")}) {
        EXPECT_NE(Talrec("record --seconds 5 " + path).find("cannot record into " + path),
                  std::string::npos);
        EXPECT_EQ(status_, 1);
    }
    const std::string list = Talrec("recover --list");
    ASSERT_EQ(Count(list, "\n"), 3u) << list;
    const std::string first = list.substr(list.rfind("  ", list.find('\n')) + 2);
    EXPECT_NE(Talrec("recover --discard " + first.substr(0, first.find('\n'))).find("discarded"),
              std::string::npos);
    const auto recovered = Recover();
    EXPECT_EQ(recovered.size(), 2u);
    for (const auto& [name, seconds] : recovered) EXPECT_GE(seconds, 0.5) << name;
    EXPECT_EQ(Talrec("recover --list"), "no recordings wait\n");
}

}  // namespace
