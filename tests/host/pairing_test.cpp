// Paired web origins: the digest and origin rules beneath them, and `talrec pair` with a running
// `talrec serve` end to end: a paired token holds with its own origin only, until revoked.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <thread>

#include "host/BridgeClient.h"
#include "host/common/Pairings.h"
#include "host/common/Sha256.h"
#include "support/TempDir.h"

using namespace talrec::test;
using namespace std::chrono_literals;
using talrec::host::NormalizeWebOrigin;
using talrec::host::Sha256Hex;

namespace {

TEST(Sha256, KnownDigests) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
         "lmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        // The padding's edges: the length fits the last block, just does not, a whole block.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [input, digest] : cases) EXPECT_EQ(Sha256Hex(input), digest) << input.size();
}

TEST(PairingOrigins, OnlyAWebOriginIsTaken) {
    EXPECT_EQ(NormalizeWebOrigin("HTTPS://App.Example/"), "https://app.example");
    EXPECT_EQ(NormalizeWebOrigin("https://app.example:443"), "https://app.example");
    EXPECT_EQ(NormalizeWebOrigin("http://127.0.0.1:8080"), "http://127.0.0.1:8080");
    EXPECT_EQ(NormalizeWebOrigin("http://[::1]:3000"), "http://[::1]:3000");
    for (const char* bad :
         {"", "null", "app.example", "ftp://app.example", "https://", "https://app.example/x",
          "https://app.example?q", "https://app.example#f", "https://u@app.example",
          "https://app.example:", "https://app.example:0", "https://app.example:65536",
          "https://app.example:080", "https://app example", "https://-app.example", "https://[zz]",
          "javascript://app.example"}) {
        EXPECT_EQ(NormalizeWebOrigin(bad), std::nullopt) << bad;
    }
}

class PairingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(tmp_ / "data/quorvex");
        std::filesystem::create_directories(tmp_ / "run");
        env_ = {{"TALREC_REGISTRY", tmp_ / "registry"}, {"XDG_DATA_HOME", tmp_ / "data"},
                {"XDG_RUNTIME_DIR", tmp_ / "run"},      {"XDG_CONFIG_HOME", tmp_ / "config"},
                {"TALREC_WAVE_DEVICE", "virtual"},      {"TALREC_VIRTUAL_SOURCE", "tone:440:0.5"}};
        ASSERT_EQ(RunCommand({BinDir() + "/talrec", "register"}, env_), 0);
        serve_ = std::make_unique<ServeProcess>(env_, tmp_ / "serve.err");
        ASSERT_NE(serve_->port(), 0) << serve_->firstLine();
    }

    // `talrec pair ARGS`: its exit status and standard output (standard error in `err`).
    int Pair(const std::string& args, std::string& out) {
        std::string command = "env";
        for (const auto& [name, value] : env_) command += " '" + name + "=" + value + "'";
        command += " '" + BinDir() + "/talrec' pair " + args + " >'" + std::string(tmp_ / "out") +
                   "' 2>'" + std::string(tmp_ / "err") + "'";
        const int status = std::system(command.c_str());
        out = ReadFile(tmp_ / "out");
        err = ReadFile(tmp_ / "err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static unsigned Mode(const std::string& path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
    }

    TempDir tmp_;
    std::map<std::string, std::string> env_;
    std::unique_ptr<ServeProcess> serve_;
    std::string err;
};

TEST_F(PairingTest, APairedTokenHoldsForItsOriginOnlyUntilRevoked) {
    const std::string app = "https://app.example";
    std::string out;
    EXPECT_FALSE(std::filesystem::exists(tmp_ / "config")) << "made by the first pairing only";
    ASSERT_EQ(Pair("--allow HTTPS://App.Example/", out), 0) << err;
    const std::string token = out.substr(0, out.find('\n'));
    ASSERT_EQ(token.size(), 64u) << out;
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);

    // At rest: a private folder, a private file, the token's digest and never the token.
    const std::string file = tmp_ / "config/talrec/pairings.json";
    EXPECT_EQ(Mode(tmp_ / "config/talrec"), 0700u);
    EXPECT_EQ(Mode(file), 0600u);
    EXPECT_EQ(ReadFile(file).find(token), std::string::npos);
    EXPECT_NE(ReadFile(file).find(Sha256Hex(token)), std::string::npos);
    ASSERT_EQ(Pair("--list", out), 0);
    EXPECT_NE(out.find(app + "  paired 20"), std::string::npos) << out;
    EXPECT_NE(out.find("last used never"), std::string::npos) << out;

    // Refused, and nothing opened or written: the paired token with another origin or none,
    // the run's token or a wrong token with the paired origin, a name that only starts alike.
    std::string wrong = token;
    wrong.back() = wrong.back() == '0' ? '1' : '0';
    const struct {
        std::optional<std::string> origin;
        std::string token;
        int status;
    } refusals[] = {
        {"https://other.example", token, 403},
        {std::nullopt, token, 401},
        {serve_->origin(), token, 401},
        {app, serve_->token(), 401},
        {app, wrong, 401},
        {"https://app.example.evil", token, 403},
        {"http://app.example", token, 403},
        {app, "", 401},
    };
    for (const auto& r : refusals) {
        std::map<std::string, std::string> headers;
        if (r.origin) headers["Origin"] = *r.origin;
        const std::string what = r.origin.value_or("(none)") + " " + r.token;
        headers["Sec-WebSocket-Protocol"] = "talrec, talrec.token." + r.token;
        std::string protocol;
        EXPECT_EQ(UpgradeStatus(serve_->port(), "/rpc", headers, &protocol), r.status) << what;
        EXPECT_EQ(protocol, "") << what;
        headers["Authorization"] = "Bearer " + r.token;
        EXPECT_EQ(HttpGet(serve_->port(), "/files", headers).status, r.status) << what;
    }
    EXPECT_TRUE(std::filesystem::is_empty(tmp_ / "data/quorvex"));
    EXPECT_EQ(ReadFile(tmp_ / "serve.err").find("records"), std::string::npos);

    // With its own origin it works, for files and the control alike, and is noted as used.
    HttpReply files =
        HttpGet(serve_->port(), "/files", {{"Origin", app}, {"Authorization", "Bearer " + token}});
    EXPECT_EQ(files.status, 200);
    EXPECT_EQ(files.headers["Access-Control-Allow-Origin"], app);
    WsClient client(serve_->port(), "/rpc",
                    {{"Origin", app}, {"Sec-WebSocket-Protocol", "talrec, talrec.token." + token}});
    ASSERT_TRUE(client.open());
    EXPECT_TRUE(client.Call("recStop").reply.contains("result"));
    ASSERT_EQ(Pair("--list", out), 0);
    EXPECT_EQ(out.find("never"), std::string::npos) << out;

    // Revoked: the open connection is closed with 4001, the token refused from then on.
    ASSERT_EQ(Pair("--revoke https://app.example", out), 0) << err;
    while (client.Read()) {
    }
    EXPECT_EQ(client.CloseCode(), 4001);
    EXPECT_EQ(UpgradeStatus(serve_->port(), "/rpc?token=" + token, {{"Origin", app}}), 403);
    EXPECT_EQ(
        HttpGet(serve_->port(), "/files", {{"Origin", app}, {"Authorization", "Bearer " + token}})
            .status,
        403);
    EXPECT_EQ(Pair("--revoke https://app.example", out), 1);
    EXPECT_NE(err.find("is not paired"), std::string::npos) << err;
    EXPECT_EQ(Pair("--list", out), 0);
    EXPECT_EQ(out, "no origin is paired\n");

    // A command line that names no origin, or two actions, pairs nothing.
    for (const char* bad : {"--allow https://app.example/path", "--allow ftp://app.example",
                            "--list --revoke https://app.example", ""}) {
        EXPECT_EQ(Pair(bad, out), 2) << bad;
        EXPECT_EQ(out, "") << bad;
    }
    EXPECT_NE(ReadFile(file).find("\"pairings\": []"), std::string::npos) << ReadFile(file);
}

// Tokens travel in headers, a ticket opens its one file, CORS answers the allowed and paired
// origins only; no refused request changes the data folder.
TEST_F(PairingTest, TokensTravelInHeadersAndATicketOpensItsOneFile) {
    const std::string app = "https://app.example", other = "https://other.example";
    std::string out;
    ASSERT_EQ(Pair("--allow " + app, out), 0) << err;
    const std::string paired = "Bearer " + out.substr(0, 64), run = "Bearer " + serve_->token();
    WriteFile(tmp_ / "data/quorvex/take.wav", "take");
    auto post = [](ServeProcess& serve, const std::string& auth, const std::string& body) {
        return HttpGet(serve.port(), "/tickets", {{"Authorization", auth}}, "POST", body);
    };
    auto ticket = [&](ServeProcess& serve, const std::string& auth) {
        return nlohmann::json::parse(post(serve, auth, R"({"name":"take.wav"})").body, nullptr,
                                     false)
            .value("ticket", "");
    };
    const std::string t = ticket(*serve_, run);
    ASSERT_EQ(t.size(), 64u);
    const struct {
        std::string method, target;
        std::map<std::string, std::string> headers;
        int status;
        std::string cors;  // Access-Control-Allow-Origin
    } cases[] = {
        {"GET", "/files?token=" + serve_->token(), {}, 401, ""},
        {"GET", "/files/take.wav?token=" + serve_->token(), {}, 401, ""},
        {"GET", "/files/other.wav?ticket=" + t, {}, 401, ""},
        {"GET", "/files?ticket=" + t, {}, 401, ""},
        {"GET", "/files/take.wav?ticket=" + t, {{"Origin", other}}, 403, ""},
        {"POST", "/tickets", {{"Authorization", paired}}, 401, ""},
        {"OPTIONS", "/files", {{"Origin", other}}, 403, ""},
        {"OPTIONS", "/tickets", {}, 403, ""},
        {"GET", "/hello", {{"Origin", "null"}}, 403, "*"},
        {"OPTIONS", "/files", {{"Origin", app}}, 204, app},
        {"GET", "/talrec.js", {{"Origin", other}}, 200, "*"},
        {"GET", "/files/take.wav?ticket=" + t, {{"Range", "bytes=1-2"}}, 206, ""},
        {"GET", "/files/take.wav?ticket=" + t + "&download=1", {}, 200, ""},
    };
    for (const auto& c : cases) {
        HttpReply r = HttpGet(serve_->port(), c.target, c.headers, c.method);
        EXPECT_EQ(r.status, c.status) << c.method << " " << c.target;
        EXPECT_EQ(r.headers["Access-Control-Allow-Origin"], c.cors) << c.method << " " << c.target;
        if (c.target.find("download") != std::string::npos) {
            EXPECT_EQ(r.headers["Content-Disposition"],
                      "attachment; filename=\"take.wav\"; filename*=UTF-8''take.wav");
        }
    }
    for (const auto& [origin, expected] : {std::pair{app, true}, {other, false}}) {
        HttpReply r =
            HttpGet(serve_->port(), "/hello", {{"Origin", origin}, {"Authorization", paired}});
        EXPECT_EQ(r.body, nlohmann::json({{"talrec", 1}, {"paired", expected}}).dump()) << origin;
    }
    EXPECT_EQ(post(*serve_, run, std::string(70000, ' ')).status, 413);
    EXPECT_EQ(post(*serve_, run, R"({"name":"../registry"})").status, 404);

    // A ticket expires: 60 s, shortened to 1 s here.
    auto env = env_;
    env["TALREC_TICKET_SECONDS"] = "1";
    ServeProcess brief(env, tmp_ / "brief.err");
    const std::string old = ticket(brief, "Bearer " + brief.token());
    ASSERT_EQ(old.size(), 64u);
    int status = 200;
    for (int i = 0; i < 300 && status == 200; ++i, std::this_thread::sleep_for(100ms)) {
        status = HttpGet(brief.port(), "/files/take.wav?ticket=" + old).status;
    }
    EXPECT_EQ(status, 401);
    EXPECT_EQ(ReadFile(tmp_ / "data/quorvex/take.wav"), "take");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp_ / "data/quorvex"), {}), 1);
}

}  // namespace
