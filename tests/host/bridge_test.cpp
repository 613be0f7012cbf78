// `talrec serve` end to end: the refusals, the files, fifty recording connections at once, bad
// frames, message boxes and debug output, peers that never finish a request, hostile names and
// runtime folders, and stopping on a signal.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <thread>

#include "host/BridgeClient.h"
#include "support/HalfOpenPeers.h"
#include "support/TempDir.h"

using namespace talrec::test;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

class BridgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(Data());
        std::filesystem::create_directories(tmp_ / "run");
        std::filesystem::create_directories(tmp_ / "outside");
        env_ = {{"TALREC_REGISTRY", tmp_ / "registry"}, {"XDG_DATA_HOME", tmp_ / "data"},
                {"XDG_RUNTIME_DIR", tmp_ / "run"},      {"TALREC_WAVE_DEVICE", "virtual"},
                {"XDG_CONFIG_HOME", tmp_ / "config"},   {"TALREC_VIRTUAL_SOURCE", "tone:440:0.5"},
                {"TALREC_VIRTUAL_SPEED", "1"}};
        ASSERT_EQ(RunCommand({BinDir() + "/talrec", "register"}, env_), 0);
        serve_ = std::make_unique<ServeProcess>(env_, StderrPath());
        ASSERT_NE(serve_->port(), 0) << serve_->firstLine();
    }

    std::string Data() const { return tmp_ / "data/quorvex"; }
    std::string StderrPath() const { return tmp_ / "serve.err"; }
    std::string Rpc() const { return "/rpc?token=" + serve_->token(); }
    // `headers` with the run's token as the Bearer.
    std::map<std::string, std::string> Auth(std::map<std::string, std::string> headers = {}) {
        headers["Authorization"] = "Bearer " + serve_->token();
        return headers;
    }
    std::unique_ptr<WsClient> Connect() {
        auto client = std::make_unique<WsClient>(serve_->port(), Rpc());
        EXPECT_TRUE(client->open());
        return client;
    }

    // Every name in a folder with its size and modification time, to show nothing changed.
    static std::map<std::string, std::string> Snapshot(const std::string& folder) {
        std::map<std::string, std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            struct stat st {};
            lstat(entry.path().c_str(), &st);
            out[entry.path().filename()] =
                std::to_string(st.st_size) + "@" + std::to_string(st.st_mtim.tv_nsec);
        }
        return out;
    }

    static double WavSeconds(const std::string& path) {
        std::error_code ec;
        auto size = std::filesystem::file_size(path, ec);
        return ec ? -1 : static_cast<double>(size - 44) / (22050.0 * 4);
    }

    TempDir tmp_;
    std::map<std::string, std::string> env_;
    std::unique_ptr<ServeProcess> serve_;
};

TEST_F(BridgeTest, StartsWithItsAddressAndAPrivateStateFile) {
    EXPECT_EQ(serve_->firstLine(),
              "http://127.0.0.1:" + std::to_string(serve_->port()) + "/#code=" + serve_->code());
    EXPECT_EQ(serve_->token().size(), 64u);
    std::string file = tmp_ / "run/talrec/serve.json";
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    json state = json::parse(ReadFile(file));
    EXPECT_EQ(state["port"], serve_->port());
    EXPECT_EQ(state["token"], serve_->token());
    EXPECT_EQ(state["pid"], serve_->pid());

    // Another bridge on the same port says so and leaves the state alone; one on another port
    // writes its own, which the first leaves in place when it stops.
    ServeProcess same(env_, tmp_ / "same.err", {"--port", std::to_string(serve_->port())});
    EXPECT_EQ(same.Wait(30s), 1);
    EXPECT_NE(ReadFile(tmp_ / "same.err").find("bridge, pid " + std::to_string(serve_->pid())),
              std::string::npos);
    EXPECT_EQ(json::parse(ReadFile(file)), state);
    ServeProcess second(env_, tmp_ / "second.err");
    EXPECT_NE(second.token(), serve_->token()) << "a new token each run";
    serve_->Signal(SIGTERM);
    EXPECT_EQ(serve_->Wait(30s), 0);
    EXPECT_EQ(json::parse(ReadFile(file))["token"], second.token());
}

TEST_F(BridgeTest, RequestsFailingAChecksAreRefusedAndChangeNothing) {
    WriteFile(tmp_ / "outside/secret.wav", "secret");
    WriteFile(Data() + "/kept.wav", "kept");
    std::filesystem::create_symlink(tmp_ / "outside/secret.wav", Data() + "/link.wav");
    auto dataBefore = Snapshot(Data());
    auto outsideBefore = Snapshot(tmp_ / "outside");
    const std::uint16_t port = serve_->port();
    const std::string evilHost = "evil.example:" + std::to_string(port);

    // Host: DNS rebinding sends the attacker's name.
    EXPECT_EQ(HttpGet(port, "/", {{"Host", evilHost}}).status, 403);
    EXPECT_EQ(HttpGet(port, "/files", Auth({{"Host", evilHost}})).status, 403);
    EXPECT_EQ(UpgradeStatus(port, Rpc(), {{"Host", evilHost}}), 403);
    // Origin: another page's script.
    EXPECT_EQ(HttpGet(port, "/files", Auth({{"Origin", "http://evil.example"}})).status, 403);
    EXPECT_EQ(HttpGet(port, "/hello", {{"Origin", "null"}}).status, 403);
    EXPECT_EQ(UpgradeStatus(port, Rpc(), {{"Origin", "http://evil.example"}}), 403);
    // An address the bridge does not serve: 404 once Host and Origin pass, token or not.
    EXPECT_EQ(HttpGet(port, "/nothing").status, 404);
    EXPECT_EQ(HttpGet(port, "/nothing", {{"Host", evilHost}}).status, 403);
    // Token: none, wrong, one character short.
    EXPECT_EQ(HttpGet(port, "/files").status, 401);
    EXPECT_EQ(HttpGet(port, "/files/kept.wav?token=" + std::string(64, '0')).status, 401);
    EXPECT_EQ(UpgradeStatus(port, "/rpc"), 401);
    EXPECT_EQ(UpgradeStatus(port, Rpc().substr(0, Rpc().size() - 1)), 401);
    // Paths that leave the folder, or are not plain files in it.
    for (const std::string& name : std::vector<std::string>{
             "..", "%2e%2e", "%2E%2E/registry", "..%2Fregistry", "%2F" + (tmp_ / "registry"),
             "/" + (tmp_ / "registry"), "link.wav", "", "nothing.wav", "kept.wav%00"}) {
        EXPECT_EQ(HttpGet(port, "/files/" + name, Auth()).status, 404) << name;
    }
    // What passes: the page and scripts with the bridge's own origin, the file with the token.
    EXPECT_EQ(HttpGet(port, "/", {{"Origin", serve_->origin()}}).status, 200);
    EXPECT_EQ(HttpGet(port, "/talrec.js", {{"Host", "localhost:" + std::to_string(port)}}).status,
              200);
    EXPECT_EQ(HttpGet(port, "/files/kept.wav", Auth()).body, "kept");
    EXPECT_EQ(UpgradeStatus(port, Rpc(), {{"Origin", serve_->origin()}}), 101);
    ServeProcess allowing(env_, tmp_ / "allowing.err", {"--allow-origin", "https://App.example/"});
    const std::string token = "?token=" + allowing.token();
    EXPECT_EQ(UpgradeStatus(allowing.port(), "/rpc" + token, {{"Origin", "https://app.example"}}),
              101);
    HttpReply allowed = HttpGet(
        allowing.port(), "/files",
        {{"Origin", "https://app.example"}, {"Authorization", "Bearer " + allowing.token()}});
    EXPECT_EQ(allowed.status, 200);
    EXPECT_EQ(allowed.headers["Access-Control-Allow-Origin"], "https://app.example");
    EXPECT_EQ(UpgradeStatus(allowing.port(), "/rpc" + token, {{"Origin", "http://app.example"}}),
              403);

    // Script paths outside the data folder: the methods' failure results and no event.
    auto client = Connect();
    std::string outside = tmp_ / "outside/secret.wav";
    for (const auto& [method, params, result] : std::vector<std::tuple<std::string, json, int>>{
             {"recStart", {tmp_ / "outside/new.wav"}, -1},
             {"RecordStartFile", {tmp_ / "outside/new.wav"}, -1},
             {"playStart", {outside}, -1},
             {"ConvertWavToWMA", {Data() + "/kept.wav", tmp_ / "outside/new.wma"}, -1},
             {"DeleteAudioFile", {outside}, 1},
             {"DeleteAudioFile", {Data() + "/link.wav"}, 1}}) {
        auto reply = client->Call(method, params);
        EXPECT_EQ(reply.result(), result) << method;
        EXPECT_TRUE(reply.notifications.empty()) << method;
    }
    client->Call("recStop");
    client->Close();
    EXPECT_EQ(Snapshot(Data()), dataBefore);
    EXPECT_EQ(Snapshot(tmp_ / "outside"), outsideBefore);
}

TEST_F(BridgeTest, FilesAreListedAndServedWithRanges) {
    auto client = Connect();
    std::string path = Data() + "/take.wav";
    EXPECT_EQ(client->Call("recStart", {path}).states(),
              (std::vector<std::string>{"record-start"}));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(client->Call("recStop").states(), (std::vector<std::string>{"record-stop"}));
    std::filesystem::create_directories(Data() + "/folder");

    HttpReply list = HttpGet(serve_->port(), "/files", Auth());
    ASSERT_EQ(list.status, 200);
    json files = json::parse(list.body);
    ASSERT_EQ(files.size(), 1u) << "only plain files: " << list.body;
    EXPECT_EQ(files[0]["name"], "take.wav");
    EXPECT_EQ(files[0]["size"], std::filesystem::file_size(path));
    EXPECT_NEAR(files[0]["duration"].get<double>(), WavSeconds(path), 0.01);
    EXPECT_EQ(files[0]["modified"].get<std::string>().size(), 20u);

    const std::string bytes = ReadFile(path);
    HttpReply whole = HttpGet(serve_->port(), "/files/take.wav", Auth());
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.headers["Content-Type"], "audio/wav");
    EXPECT_EQ(whole.body, bytes);
    HttpReply head = HttpGet(serve_->port(), "/files/take.wav", Auth({{"Range", "bytes=0-43"}}));
    EXPECT_EQ(head.status, 206);
    EXPECT_EQ(head.body, bytes.substr(0, 44));
    EXPECT_EQ(head.headers["Content-Range"], "bytes 0-43/" + std::to_string(bytes.size()));
    HttpReply tail = HttpGet(serve_->port(), "/files/take.wav", Auth({{"Range", "bytes=-10"}}));
    EXPECT_EQ(tail.body, bytes.substr(bytes.size() - 10));
    HttpReply from = HttpGet(serve_->port(), "/files/take.wav",
                             Auth({{"Range", "bytes=" + std::to_string(bytes.size() - 5) + "-"}}));
    EXPECT_EQ(from.body, bytes.substr(bytes.size() - 5));
    EXPECT_EQ(HttpGet(serve_->port(), "/files/take.wav",
                      Auth({{"Range", "bytes=" + std::to_string(bytes.size()) + "-"}}))
                  .status,
              416);

    EXPECT_EQ(client->Call("ConvertWavToWMA", {path, Data() + "/take.wma"}).result(), 0);
    HttpReply wma = HttpGet(serve_->port(), "/files/take.wma", Auth());
    EXPECT_EQ(wma.headers["Content-Type"], "audio/x-ms-wma");
    EXPECT_EQ(wma.body, ReadFile(Data() + "/take.wma"));
}

TEST_F(BridgeTest, FiftyConnectionsRecordEachIntoItsOwnFile) {
    const int threadsBefore = serve_->Threads();
    const int descriptorsBefore = serve_->Descriptors();
    constexpr int kCount = 50;
    std::vector<std::unique_ptr<WsClient>> clients;
    for (int i = 0; i < kCount; ++i) clients.push_back(Connect());
    // Each recording's length must lie between what the client saw of it at least (start
    // answered to stop sent) and at most (start sent to stop answered); a slow build stretches
    // both bounds alike.
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> startSent(kCount), startDone(kCount), stopSent(kCount),
        stopDone(kCount);
    for (int i = 0; i < kCount; ++i) {
        startSent[i] = Clock::now();
        std::string path = Data() + "/take" + std::to_string(i) + ".wav";
        ASSERT_EQ(clients[i]->Call("recStart", {path}).states(),
                  (std::vector<std::string>{"record-start"}));
        startDone[i] = Clock::now();
    }
    for (int i = 0; i < kCount; ++i) {
        std::this_thread::sleep_until(startSent[i] + 1s);
        stopSent[i] = Clock::now();
        auto reply = clients[i]->Call("recStop");
        stopDone[i] = Clock::now();
        EXPECT_EQ(reply.states(), (std::vector<std::string>{"record-stop"})) << i;
        EXPECT_FALSE(clients[i]->levels.empty()) << i;
    }
    // Whatever else arrives on a connection is its own level messages only.
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(clients[i]->Call("GetErrorString", {0}).notifications.size(), 0u) << i;
        clients[i]->Close();
    }
    clients.clear();
    for (int i = 0; i < kCount; ++i) {
        const double seconds = WavSeconds(Data() + "/take" + std::to_string(i) + ".wav");
        const std::chrono::duration<double> least = stopSent[i] - startDone[i];
        const std::chrono::duration<double> most = stopDone[i] - startSent[i];
        EXPECT_GE(seconds, least.count() - 0.2) << i;
        EXPECT_LE(seconds, most.count() + 0.2) << i;
    }
    // Controls are destroyed as their connections close; wait (generously) for the last.
    for (int wait = 0; wait < 300; ++wait) {
        if (serve_->Threads() == threadsBefore && serve_->Descriptors() == descriptorsBefore) break;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(serve_->Threads(), threadsBefore);
    EXPECT_EQ(serve_->Descriptors(), descriptorsBefore);
    std::string log = ReadFile(StderrPath());
    std::size_t starts = 0, stops = 0;
    for (std::size_t at = 0; (at = log.find(" records into ", at)) != std::string::npos; ++at) {
        ++starts;
    }
    for (std::size_t at = 0; (at = log.find(" stopped recording into ", at)) != std::string::npos;
         ++at) {
        ++stops;
    }
    EXPECT_EQ(starts, 50u);
    EXPECT_EQ(stops, 50u);
}

TEST_F(BridgeTest, BadFramesAreAnsweredOrCloseWithTheirCode) {
    auto bystander = Connect();
    {
        auto client = Connect();
        client->SendText("{not json");
        auto reply = client->Read();
        ASSERT_TRUE(reply);
        EXPECT_EQ((*reply)["error"]["code"], -32700);
        client->SendText(std::string(1024 * 1024 + 1, ' '));
        EXPECT_FALSE(client->Read());
        EXPECT_EQ(client->CloseCode(), 1009);
    }
    {
        auto client = Connect();
        client->SendBinary("{}");
        EXPECT_FALSE(client->Read());
        EXPECT_EQ(client->CloseCode(), 1003);
    }
    {
        auto client = Connect();
        client->SendText("\"\xff\xfe\"");
        EXPECT_FALSE(client->Read());
        EXPECT_EQ(client->CloseCode(), 1007);
    }
    // A thousand random frames: printable text, arbitrary bytes as text, and binary.
    std::mt19937 random(20261208);
    auto client = Connect();
    int answered = 0, closed = 0;
    for (int i = 0; i < 1000; ++i) {
        std::string frame(random() % 200, '\0');
        int kind = static_cast<int>(random() % 3);
        for (char& c : frame) {
            c = kind == 0 ? static_cast<char>(' ' + random() % 95) : static_cast<char>(random());
        }
        bool utf8 = true;
        try {
            (void)json(frame).dump();
        } catch (const json::exception&) {
            utf8 = false;
        }
        int expectClose = kind == 2 ? 1003 : (utf8 ? 0 : 1007);
        kind == 2 ? client->SendBinary(frame) : client->SendText(frame);
        auto reply = client->Read();
        if (expectClose == 0) {
            ASSERT_TRUE(reply) << "frame " << i << " not answered";
            EXPECT_TRUE(reply->contains("error")) << i;
            ++answered;
        } else {
            ASSERT_FALSE(reply) << "frame " << i;
            EXPECT_EQ(client->CloseCode(), expectClose) << i;
            ++closed;
            client = Connect();
        }
    }
    EXPECT_GT(answered, 300);
    EXPECT_GT(closed, 300);
    EXPECT_EQ(bystander->Call("GetErrorString", {0}).result(), "Succeeded");
}

TEST_F(BridgeTest, AMessageBoxReachesTheConnectionWhoseCallRaisedIt) {
    auto a = Connect();
    auto b = Connect();
    auto reply = a->Call("TempFolderPass", {tmp_ / "missing"});
    ASSERT_EQ(reply.notifications.size(), 1u);
    EXPECT_EQ(reply.notifications[0]["method"], "host.messageBox");
    auto other = b->Call("GetErrorString", {0});
    EXPECT_TRUE(other.notifications.empty());
    EXPECT_EQ(other.result(), "Succeeded");
    EXPECT_EQ(a->Call("host.quit").reply["error"]["code"], static_cast<std::int32_t>(0x80020006u))
        << "a page cannot stop the bridge";
}

// 200 peers hold half a request head open for 10 s and reconnect whenever dropped: a page with
// the token still connects and has its call answered, and the bridge's threads and descriptors
// come back to where they were.
TEST_F(BridgeTest, HalfOpenConnectionsCannotKeepAPageOut) {
    const int threadsBefore = serve_->Threads();
    const int descriptorsBefore = serve_->Descriptors();
    using Clock = std::chrono::steady_clock;
    std::chrono::duration<double> slowest{};
    std::atomic<int> opened{0};
    {
        std::jthread peers(HoldHalfOpen, serve_->port(), 200, std::ref(opened));
        for (const auto end = Clock::now() + 10s; Clock::now() < end;) {
            const auto start = Clock::now();
            EXPECT_EQ(WsClient(serve_->port(), Rpc()).Call("GetErrorString", {0}).result(),
                      "Succeeded");
            slowest = std::max<std::chrono::duration<double>>(slowest, Clock::now() - start);
            std::this_thread::sleep_for(250ms);
        }
    }
    EXPECT_GT(opened, 200) << "the peers were dropped and came back";
    std::printf("under attack a page got in within %.3f s at the slowest\n", slowest.count());
    for (int wait = 0; wait < 300; ++wait) {
        if (serve_->Threads() == threadsBefore && serve_->Descriptors() == descriptorsBefore) break;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(serve_->Threads(), threadsBefore);
    EXPECT_EQ(serve_->Descriptors(), descriptorsBefore);
}

// A bridge whose input does not open: each page hears the failures of its own calls, and only
// those; the console shows them, and a page's hostile file name, as inert text.
TEST_F(BridgeTest, EachPageHearsItsOwnFailuresAndTheConsoleEscapesWhatPagesName) {
    env_["TALREC_WAVE_DEVICE"] = "alsa:nosuchpcm";
    ServeProcess serve(env_, tmp_ / "failing.err");
    WsClient a(serve.port(), "/rpc?token=" + serve.token());
    WsClient b(serve.port(), "/rpc?token=" + serve.token());
    auto debug = [](const WsClient::Reply& reply) {
        std::string lines;
        for (const auto& n : reply.notifications) lines += n["params"].dump() + " ";
        return lines;
    };
    const std::string hostile =
        Data() + "/\x1b]52;c;ZXZpbA==\x07\rtalrec serve: stopped\x1b[2K.wav";
    auto recording = a.Call("recStart", {hostile});
    EXPECT_EQ(recording.states(), (std::vector<std::string>{"record-start"})) << "as before";
    EXPECT_NE(debug(recording).find("waveInOpen: alsa:nosuchpcm does not"), std::string::npos);
    WriteFile(Data() + "/noise.wav", "not a sound");
    EXPECT_NE(debug(b.Call("playStart", {Data() + "/noise.wav"})).find("MCI_OPEN: cannot play"),
              std::string::npos);
    EXPECT_EQ(debug(b.Call("GetErrorString", {0})), "") << "nothing of a's recording";
    auto converting = a.Call("ConvertWavToWMA", {Data() + "/noise.wav", Data() + "/noise.wma"});
    EXPECT_NE(debug(converting).find("Failed to open Wav File"), std::string::npos);
    EXPECT_EQ(debug(a.Call("recStop")), "[\"record-stop\"] ") << "nothing of b's playing";
    const std::string log = ReadFile(tmp_ / "failing.err");
    EXPECT_NE(log.find("records into " + Data() +
                       "/\\x1b]52;c;ZXZpbA==\\x07\\rtalrec serve: stopped\\x1b[2K.wav\n"),
              std::string::npos);
    EXPECT_NE(log.find("talrec serve: waveInOpen: alsa:nosuchpcm"), std::string::npos);
    EXPECT_EQ(log.find_first_of("\x1b\x07\r"), std::string::npos) << "nothing a terminal acts on";
}

// serve.json holds the token: a runtime folder that is a link, or that others own or may
// change, is refused before anything is written into it.
TEST_F(BridgeTest, RefusesARuntimeFolderOthersControl) {
    namespace fs = std::filesystem;
    const std::string elsewhere = tmp_ / "elsewhere";
    fs::create_directories(elsewhere);
    std::map<std::string, std::string> said = {{"link", "is a symbolic link to " + elsewhere},
                                               {"0777", "can be written by other users"}};
    if (geteuid() == 0) said["nobody"] = "belongs to another user, nobody (uid 65534), mode 0700";
    for (const auto& [kind, line] : said) {
        const std::string folder = tmp_ / ("run-" + kind) + "/talrec";
        fs::create_directories(kind == "link" ? tmp_ / ("run-" + kind) : folder);
        if (kind == "link") fs::create_directory_symlink(elsewhere, folder);
        fs::permissions(folder, fs::perms(kind == "0777" ? 0777 : 0700));
        ASSERT_TRUE(kind != "nobody" || chown(folder.c_str(), 65534, 65534) == 0);
        auto env = env_;
        env["XDG_RUNTIME_DIR"] = fs::path(folder).parent_path();
        ServeProcess refused(env, tmp_ / "refused.err");
        EXPECT_EQ(refused.Wait(30s), 1) << kind;
        EXPECT_NE(ReadFile(tmp_ / "refused.err").find(line), std::string::npos) << kind;
        EXPECT_TRUE(fs::is_empty(folder)) << kind;
    }
}

TEST_F(BridgeTest, ASignalClosesEveryConnectionAndRemovesTheStateFile) {
    auto client = Connect();
    std::string path = Data() + "/cut.wav";
    ASSERT_EQ(client->Call("recStart", {path}).result(), 0);
    serve_->Signal(SIGTERM);
    while (client->Read()) {
    }
    EXPECT_EQ(client->CloseCode(), 1001);
    EXPECT_EQ(serve_->Wait(30s), 0);
    EXPECT_FALSE(Exists(tmp_ / "run/talrec/serve.json"));
    EXPECT_FALSE(Exists(path)) << "nothing is written at a recording's own path";
    std::string log = ReadFile(StderrPath());
    EXPECT_NE(log.find("records into " + path), std::string::npos) << log;
    EXPECT_NE(log.find("was recording into " + path + " as the bridge stopped"), std::string::npos)
        << log;
}

}  // namespace
