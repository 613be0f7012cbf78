// Through the real `talrec serve`, `talrec host`, `talrec record` and `talrec recover`: a
// recording that its container ends or its stop cannot write waits for `talrec recover` with
// every sample, a file played when its page goes is closed with its control, nothing lands
// outside the folders a page may use even when one becomes a link, and what is written is its
// owner's alone.
#include <sys/stat.h>

#include <thread>

#include "host/BridgeClient.h"
#include "host/HostFixture.h"

using namespace talrec::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr char kWaits[] = "waits for 'talrec recover' as ";

unsigned Mode(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class KeptTest : public HostTest {
  protected:
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

    // Recovers every waiting recording into one folder, and checks each file written: made
    // 0600, at least half a second long, every sample counting up from the source's first.
    long Recover() {
        fs::create_directories(tmp_ / "into");
        Talrec("recover --into " + tmp_ / "into");
        for (const auto& entry : fs::directory_iterator(tmp_ / "into")) {
            CWave wave;
            wave.Load(entry.path().c_str());
            const auto* samples = reinterpret_cast<const std::uint16_t*>(wave.GetBuffer());
            DWORD k = 0;
            while (k < wave.GetNumSamples() * 2 && samples[k] == static_cast<std::uint16_t>(k)) ++k;
            EXPECT_TRUE(k == wave.GetNumSamples() * 2 && k > 22050) << entry.path() << " " << k;
            EXPECT_EQ(Mode(entry.path()), 0600u) << entry.path();
        }
        return std::distance(fs::directory_iterator(tmp_ / "into"), {});
    }

    int status_ = -1;
};

TEST_F(KeptTest, TheBridgeLosesNothingAPageLeavesAndWritesNothingOutside) {
    env_["XDG_RUNTIME_DIR"] = tmp_.path();
    ServeProcess serve(env_, tmp_ / "serve.err");
    auto connect = [&] {
        return std::make_unique<WsClient>(serve.port(), "/rpc?token=" + serve.token());
    };
    auto files = connect();
    ASSERT_EQ(files->Call("GetDataFolder").result(), Data());
    EXPECT_EQ(Mode(Data()), 0700u);

    // A file that exists keeps its mode; a conversion is made 0600, as recordings are.
    WriteFile(Data() + "/kept.wav");
    chmod((Data() + "/kept.wav").c_str(), 0644);
    ASSERT_EQ(files->Call("recStart", {Data() + "/kept.wav"}).result(), 0);
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(files->Call("recStop").result(), 0);
    ASSERT_EQ(files->Call("ConvertWavToWMA", {Data() + "/kept.wav", Data() + "/a.wma"}).result(),
              0);
    EXPECT_EQ(Mode(Data() + "/kept.wav"), 0644u);
    EXPECT_EQ(Mode(Data() + "/a.wma"), 0600u);
    // A folder outside is answered as one that does not exist, though it exists.
    EXPECT_EQ(files->Call("TempFolderPass", {Files()}).notifications.size(), 1u);
    EXPECT_TRUE(files->Call("TempFolderPass", {Data()}).notifications.empty());

    // Pages that go while their file plays or is paused leave it free.
    for (const std::string name : {"/playing.wav", "/paused.wav"}) {
        fs::copy_file(CountingSource(), Data() + name);
        auto page = connect();
        ASSERT_EQ(page->Call("playStart", {Data() + name}).states(), States{"play-start"});
        if (name == "/paused.wav") page->Call("PlayPause");
    }
    for (const std::string name : {"/playing.wav", "/paused.wav"}) {
        int tries = 0;
        while (files->Call("DeleteAudioFile", {Data() + name}).result() != 0 && ++tries < 100) {
            std::this_thread::sleep_for(100ms);
        }
        EXPECT_LT(tries, 100) << name;
    }

    // A page that goes while it pauses; stops into a folder swapped for a link to one
    // outside, a missing folder, a folder and a read-only file; a signal while a page records.
    fs::create_directories(Data() + "/sub");
    fs::create_directories(Data() + "/folder.wav");
    WriteFile(Data() + "/read-only.wav");
    chmod((Data() + "/read-only.wav").c_str(), 0444);
    auto closing = connect();
    ASSERT_EQ(closing->Call("recStart", {Data() + "/closed.wav"}).result(), 0);
    closing->Call("RecordPause");
    for (const std::string name :
         {"/sub/swapped.wav", "/missing/x.wav", "/folder.wav", "/read-only.wav", "/end.wav"}) {
        ASSERT_EQ(files->Call("recStart", {Data() + name}).result(), 0);
        std::this_thread::sleep_for(1s);
        closing.reset();
        if (name == "/end.wav") break;
        if (name == "/sub/swapped.wav") {
            fs::rename(Data() + "/sub", Data() + "/sub.old");
            fs::create_directory_symlink(tmp_ / "files", Data() + "/sub");
        }
        auto stop = files->Call("recStop");
        EXPECT_EQ(stop.reply["error"]["code"], -2147352567) << name;  // DISP_E_EXCEPTION
        EXPECT_TRUE(stop.states().empty());
    }
    EXPECT_EQ(Count(Talrec("recover --list"), "\n"), 5u) << "listed while the bridge runs";
    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.Wait(30s), 0);
    EXPECT_EQ(Count(ReadFile(tmp_ / "serve.err"), kWaits), 6u) << ReadFile(tmp_ / "serve.err");
    EXPECT_TRUE(fs::is_empty(Files()));
    EXPECT_FALSE(Exists(Data() + "/closed.wav") || Exists(Data() + "/end.wav"));
    EXPECT_EQ(ReadFile(Data() + "/read-only.wav"), "x");

    // `talrec record` refuses such files before it records anything.
    for (const std::string name : {"/folder.wav", "/read-only.wav"}) {
        const std::string said = Talrec("record --seconds 5 " + Data() + name);
        EXPECT_TRUE(said.find("cannot record into") != std::string::npos && status_ == 1) << said;
    }
    const std::string list = Talrec("recover --list");
    ASSERT_EQ(Count(list, "\n"), 6u) << list;
    const std::size_t name = list.rfind("  ", list.find('\n')) + 2;
    Talrec("recover --discard " + list.substr(name, list.find('\n') - name));
    EXPECT_EQ(status_, 0);
    EXPECT_EQ(Recover(), 5);
}

TEST_F(KeptTest, TheHostLosesNothingWhenItsInputEnds) {
    fs::copy_file(CountingSource(), File("play.wav"));
    auto player = Start();
    ASSERT_EQ(player->Call("playStart", {File("play.wav")}).states(), States{"play-start"});
    auto host = Start();
    ASSERT_EQ(host->Call("recStart", {File("end.wav")}).result(), 0);
    host->Drain(1s);
    player->CloseInput();
    host->CloseInput();
    const std::string said = nlohmann::json(host->Drain(30s)).dump();
    EXPECT_EQ(player->Wait(30s), 0);
    EXPECT_EQ(host->Wait(30s), 0);
    EXPECT_EQ(Count(said, kWaits), 1u) << said;
    EXPECT_FALSE(Exists(File("end.wav")));
    EXPECT_EQ(Recover(), 1);
    EXPECT_EQ(Talrec("recover --list"), "no recordings wait\n");
}

}  // namespace
