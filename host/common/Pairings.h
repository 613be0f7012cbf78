// The web origins the user has paired with talrec, kept in pairings.json in a private folder
// ($XDG_CONFIG_HOME/talrec, else ~/.config/talrec; folder 0700, file 0600). Each pairing binds
// one origin to one token; only the token's SHA-256 is kept, with the date it was paired and
// the date it was last used. Every change is a read-change-write under the folder's lock, so
// that `talrec pair` and a running bridge lose none of each other's changes.
//
// One object per thread; several objects (and processes) may use the same folder.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talrec::platform {
class PrivateFolder;
}

namespace talrec::host {

struct Pairing {
    std::string origin;       // as NormalizeWebOrigin gives it
    std::string tokenSha256;  // hex; empty for an origin allowed without a token
    std::string paired;       // UTC, "2026-01-31T12:00:00Z"
    std::string lastUsed;     // the same form; empty when never used
};

// A page's origin as a browser sends it: "http" or "https", "://", a host name (letters,
// digits, "-", ".") or an IPv6 address in brackets, an optional port 1-65535, nothing else (a
// trailing "/" aside). Lower-cased, without the scheme's default port. nullopt otherwise.
std::optional<std::string> NormalizeWebOrigin(std::string_view text);

class PairingStore {
  public:
    // $XDG_CONFIG_HOME/talrec, else $HOME/.config/talrec; on Windows talrec in the user's
    // application-data folder.
    static std::string DefaultFolder();
    // Opens (creates) the folder as a private folder; null with `error` set when it is not one.
    static std::unique_ptr<PairingStore> Open(const std::string& folder, std::string& error);
    ~PairingStore();
    PairingStore(const PairingStore&) = delete;
    PairingStore& operator=(const PairingStore&) = delete;

    const std::string& FilePath() const { return file_; }

    // Pairs `origin` (normalised) with a new token, replacing an earlier pairing of it; the
    // token is returned this once and kept only as its digest.
    std::optional<std::string> Pair(const std::string& origin, std::string& error);
    // Records `origin` without a token, for a channel that proves the origin itself.
    bool Allow(const std::string& origin, std::string& error);
    // Whether `token` is the token of `origin`'s pairing, compared in constant time; when it
    // is, the pairing's last use becomes now (written at most once a minute).
    bool Verify(const std::string& origin, std::string_view token);
    // Removes `origin`'s pairing: false with `error` empty when there is none.
    bool Revoke(const std::string& origin, std::string& error);
    std::vector<Pairing> List() const { return pairings_; }
    // `origin`'s pairing, as last read.
    std::optional<Pairing> Find(const std::string& origin) const;
    // Reads the file again when it changed since the last read or write; true when it did.
    bool Refresh();

  private:
    explicit PairingStore(std::unique_ptr<platform::PrivateFolder> folder);
    // Reads the file into pairings_; false with `error` set when it cannot be understood.
    bool Load(std::string& error);
    bool Save(std::string& error);

    std::unique_ptr<platform::PrivateFolder> folder_;
    std::string file_;
    std::string text_;  // the file's content as last read or written
    std::vector<Pairing> pairings_;
};

}  // namespace talrec::host
