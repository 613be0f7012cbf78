// talrec pair: the web origins paired with talrec (host/common/Pairings.h): lists them, pairs
// one from the terminal and prints its token once, or revokes one.
#include <clocale>
#include <cstdio>
#include <memory>
#include <string>

#include "host/Commands.h"
#include "host/common/Pairings.h"
#include "host/common/TerminalText.h"

namespace talrec::host {
namespace {

constexpr Option kOptions[] = {{"--list", nullptr}, {"--allow", "ORIGIN"}, {"--revoke", "ORIGIN"}};

int RunPair(const Arguments& arguments) {
    std::setlocale(LC_ALL, "");
    const int actions = (arguments.Has("--list") ? 1 : 0) + (arguments.Has("--allow") ? 1 : 0) +
                        (arguments.Has("--revoke") ? 1 : 0);
    if (actions != 1) {
        std::fprintf(stderr, "talrec pair: give one of --list, --allow ORIGIN, --revoke ORIGIN\n");
        return 2;
    }
    std::optional<std::string> origin;
    if (auto given =
            arguments.Has("--allow") ? arguments.Value("--allow") : arguments.Value("--revoke")) {
        origin = NormalizeWebOrigin(*given);
        if (!origin) {
            std::fprintf(stderr,
                         "talrec pair: '%s' is not an origin: http:// or https://, a host, an "
                         "optional :PORT, no path\n",
                         TerminalText(*given).c_str());
            return 2;
        }
    }
    std::string error;
    std::unique_ptr<PairingStore> store = PairingStore::Open(PairingStore::DefaultFolder(), error);
    if (!store) {
        std::fprintf(stderr, "talrec pair: %s\n", TerminalText(error).c_str());
        return 1;
    }
    if (arguments.Has("--list")) {
        const std::vector<Pairing> pairings = store->List();
        if (pairings.empty()) std::printf("no origin is paired\n");
        for (const Pairing& p : pairings) {
            std::printf("%s  paired %s  last used %s%s\n", TerminalText(p.origin).c_str(),
                        TerminalText(p.paired).c_str(),
                        p.lastUsed.empty() ? "never" : TerminalText(p.lastUsed).c_str(),
                        p.tokenSha256.empty() ? "  (no token)" : "");
        }
        return 0;
    }
    if (arguments.Has("--allow")) {
        const bool again = store->Find(*origin).has_value();
        std::optional<std::string> token = store->Pair(*origin, error);
        if (!token) {
            std::fprintf(stderr, "talrec pair: %s\n", TerminalText(error).c_str());
            return 1;
        }
        std::printf("%s\n", token->c_str());
        std::fflush(stdout);
        std::fprintf(stderr,
                     "talrec pair: paired %s%s; its token is shown only this once, and only its "
                     "digest is kept in %s\n",
                     TerminalText(*origin).c_str(),
                     again ? " again (its earlier token no longer works)" : "",
                     TerminalText(store->FilePath()).c_str());
        return 0;
    }
    if (!store->Revoke(*origin, error)) {
        std::fprintf(stderr, "talrec pair: %s\n",
                     TerminalText(error.empty() ? *origin + " is not paired" : error).c_str());
        return 1;
    }
    std::printf("revoked %s\n", TerminalText(*origin).c_str());
    return 0;
}

}  // namespace

const Command kPairCommand = {
    "pair",
    "--list | --allow ORIGIN | --revoke ORIGIN",
    "the web origins paired with the bridge",
    "  The web origins whose pages may use 'talrec serve' with a token of their own.\n"
    "  --list prints each paired origin, when it was paired and last used (UTC).\n"
    "  --allow ORIGIN pairs an origin (http:// or https://, a host, an optional\n"
    "  :PORT, no path) and prints its new token once; a token given earlier to it\n"
    "  stops working. --revoke ORIGIN removes its pairing: a running bridge closes\n"
    "  its connections (WebSocket code 4001) and refuses its token from then on.\n"
    "  The pairings are kept in $XDG_CONFIG_HOME/talrec/pairings.json (else\n"
    "  ~/.config/talrec; folder 0700, file 0600), each token only as its SHA-256.\n"
    "  exit: 0 done, 1 the origin is not paired or the file cannot be used,\n"
    "  2 wrong arguments\n",
    kOptions,
    0,
    0,
    RunPair};

}  // namespace talrec::host
