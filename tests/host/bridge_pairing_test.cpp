// The pairing page's approval and the one-time codes, in process on a clock the test moves:
// every refusal pairs nothing and gives no token, and each value works once, in its time.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "host/bridge/BridgePairing.h"
#include "host/common/Pairings.h"
#include "support/TempDir.h"

using talrec::host::BridgePairing;
using talrec::platform::HttpRequest;
using talrec::platform::HttpResponse;
using namespace std::chrono_literals;

namespace {

const std::string kOwn = "http://127.0.0.1:47999";
const std::string kApp = "https://app.example";
const std::string kRun = std::string(64, 'a');

TEST(BridgePairing, EachValueWorksOnceInItsTimeAndEveryRefusalPairsNothing) {
    talrec::test::TempDir tmp;
    const std::string folder = tmp / "config";
    auto now = std::chrono::steady_clock::now();
    BridgePairing desk(kRun, folder, [&] { return now; });
    auto ask = [&](const std::string& method, const std::string& target,
                   std::optional<std::string> origin, const std::string& body = "",
                   std::optional<std::string> bearer = std::nullopt) {
        HttpRequest request{method, target, {}, body};
        if (origin) request.headers.emplace_back("Origin", *origin);
        if (bearer) request.headers.emplace_back("Authorization", "Bearer " + *bearer);
        return desk.Answer(request, 47999).value_or(HttpResponse{0, {}, {}, {}, 0, 0});
    };
    // A pairing page for `origin` as asked; its one-time value.
    auto nonce = [&](const std::string& origin) {
        const HttpResponse page = ask("GET", "/pair?origin=" + origin, std::nullopt);
        std::smatch m;
        EXPECT_TRUE(std::regex_search(page.body, m, std::regex("data-nonce=\"([0-9a-f]{64})\"")));
        return m.size() > 1 ? m[1].str() : std::string();
    };
    auto approve = [&](const std::string& origin, const std::string& value) {
        return "{\"origin\":\"" + origin + "\",\"nonce\":\"" + value + "\"}";
    };

    const HttpResponse page = ask("GET", "/pair?origin=HTTPS://App.Example/", std::nullopt);
    EXPECT_NE(page.body.find("data-origin=\"https://app.example\""), std::string::npos);
    for (const char* bad : {"/pair", "/pair?origin=null", "/pair?origin=https://a.example/x"})
        EXPECT_EQ(ask("GET", bad, std::nullopt).status, 400) << bad;

    // Refused approvals: no value, a made-up one, one of another origin, one from a page of
    // another origin (the app's own too) or with none, one used, one out of date.
    const std::string used = nonce(kApp);
    const struct {
        std::optional<std::string> origin;
        std::string body;
        int status;
    } refusals[] = {
        {kOwn, "{\"origin\":\"" + kApp + "\"}", 400},
        {kOwn, approve(kApp, std::string(64, '0')), 403},
        {kOwn, approve(kApp, nonce("https://other.example")), 403},
        {kApp, approve(kApp, nonce(kApp)), 403},
        {std::nullopt, approve(kApp, nonce(kApp)), 403},
        {kOwn, approve("https://evil.example", used), 403},  // taken with the wrong origin
        {kOwn, approve(kApp, used), 403},                    // and then gone
    };
    for (const auto& r : refusals) {
        const HttpResponse answer = ask("POST", "/pair", r.origin, r.body);
        EXPECT_EQ(answer.status, r.status) << r.origin.value_or("-") << " " << r.body;
        EXPECT_EQ(answer.body.find("token"), std::string::npos);
    }
    const std::string late = nonce(kApp);
    now += 10min;
    EXPECT_EQ(ask("POST", "/pair", kOwn, approve(kApp, late)).status, 403);
    EXPECT_FALSE(std::filesystem::exists(folder)) << "nothing was paired";

    // Approved once, from the bridge's own page in any of its spellings.
    const std::string good = nonce(kApp);
    const HttpResponse paired = ask("POST", "/pair", "http://localhost:47999", approve(kApp, good));
    ASSERT_EQ(paired.status, 200) << paired.body;
    EXPECT_EQ(ask("POST", "/pair", kOwn, approve(kApp, good)).status, 403) << "used";
    std::string error;
    auto store = talrec::host::PairingStore::Open(folder, error);
    ASSERT_TRUE(store) << error;
    EXPECT_TRUE(
        store->Verify(kApp, nlohmann::json::parse(paired.body)["token"].get<std::string>()));

    // Codes: a local program with the run's token gets one; the bridge's page exchanges it
    // once, within 60 s; nothing else gets the run's token.
    EXPECT_EQ(ask("POST", "/codes", std::nullopt, "", kRun.substr(1)).status, 401);
    EXPECT_EQ(ask("POST", "/codes", kOwn, "", kRun).status, 403);
    const HttpResponse asked = ask("POST", "/codes", std::nullopt, "", kRun);
    const std::string exchange =
        "{\"code\":" + nlohmann::json::parse(asked.body)["code"].dump() + "}";
    EXPECT_EQ(ask("POST", "/session", kApp, exchange).status, 403);
    EXPECT_EQ(ask("POST", "/session", std::nullopt, exchange).status, 403);
    EXPECT_EQ(ask("POST", "/session", kOwn, exchange).body, "{\"token\":\"" + kRun + "\"}\n");
    EXPECT_EQ(ask("POST", "/session", kOwn, exchange).status, 403) << "used";
    const std::string expiring = "{\"code\":\"" + desk.NewCode() + "\"}";
    now += 60s;
    EXPECT_EQ(ask("POST", "/session", kOwn, expiring).status, 403) << "out of date";
    EXPECT_EQ(ask("GET", "/session", kOwn).status, 405);
}

}  // namespace
