// Paired web origins: the digest and origin rules beneath them, and `talrec pair` with a running
// `talrec serve` end to end: a paired token holds with its own origin only, until revoked.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "host/BridgeClient.h"
#include "host/common/Pairings.h"
#include "host/common/Sha256.h"
#include "support/TempDir.h"

using namespace talrec::test;
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
        EXPECT_EQ(UpgradeStatus(serve_->port(), "/rpc?token=" + r.token, headers), r.status)
            << what;
        EXPECT_EQ(HttpGet(serve_->port(), "/files?token=" + r.token, headers).status, r.status)
            << what;
    }
    EXPECT_TRUE(std::filesystem::is_empty(tmp_ / "data/quorvex"));
    EXPECT_EQ(ReadFile(tmp_ / "serve.err").find("records"), std::string::npos);

    // With its own origin it works, for files and the control alike, and is noted as used.
    HttpReply files = HttpGet(serve_->port(), "/files?token=" + token, {{"Origin", app}});
    EXPECT_EQ(files.status, 200);
    EXPECT_EQ(files.headers["Access-Control-Allow-Origin"], app);
    WsClient client(serve_->port(), "/rpc?token=" + token, {{"Origin", app}});
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
    EXPECT_EQ(HttpGet(serve_->port(), "/files?token=" + token, {{"Origin", app}}).status, 403);
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

}  // namespace
