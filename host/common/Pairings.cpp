#include "host/common/Pairings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "host/common/Secrets.h"
#include "host/common/Sha256.h"
#include "platform/ext/privatefolder.h"
#include "platform/shlobj.h"

namespace talrec::host {
namespace {

constexpr char kFile[] = "pairings.json";

std::string Now() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

bool HostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

}  // namespace

std::optional<std::string> NormalizeWebOrigin(std::string_view text) {
    if (!text.empty() && text.back() == '/') text.remove_suffix(1);
    std::string value(text);
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string scheme;
    if (value.rfind("http://", 0) == 0) {
        scheme = "http";
    } else if (value.rfind("https://", 0) == 0) {
        scheme = "https";
    } else {
        return std::nullopt;
    }
    const std::string_view rest = std::string_view(value).substr(scheme.size() + 3);
    std::size_t hostEnd = 0;
    if (!rest.empty() && rest[0] == '[') {
        hostEnd = rest.find(']');
        if (hostEnd == std::string_view::npos || hostEnd < 3) return std::nullopt;
        for (char c : rest.substr(1, hostEnd - 1)) {
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') {
                return std::nullopt;
            }
        }
        ++hostEnd;
    } else {
        while (hostEnd < rest.size() && HostCharacter(rest[hostEnd])) ++hostEnd;
        if (hostEnd == 0 || rest[0] == '.' || rest[0] == '-') return std::nullopt;
    }
    std::string_view host = rest.substr(0, hostEnd);
    std::string_view port = rest.substr(hostEnd);
    if (!port.empty()) {
        if (port[0] != ':' || port.size() < 2 || port.size() > 6) return std::nullopt;
        port.remove_prefix(1);
        unsigned number = 0;
        for (char c : port) {
            if (c < '0' || c > '9') return std::nullopt;
            number = number * 10 + static_cast<unsigned>(c - '0');
        }
        if (number == 0 || number > 65535) return std::nullopt;
        if ((scheme == "http" && number == 80) || (scheme == "https" && number == 443)) {
            port = {};
        } else {
            port = rest.substr(hostEnd);  // with its colon, without leading zeros' meaning
            if (port[1] == '0') return std::nullopt;
        }
    }
    return scheme + "://" + std::string(host) + std::string(port);
}

std::string PairingStore::DefaultFolder() {
    namespace fs = std::filesystem;
#ifdef _WIN32
    // Windows has neither variable below: the user's roaming application data, beside the
    // control's data folder.
    char appData[MAX_PATH];
    if (SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE)) {
        return (fs::path(appData) / "talrec").string();
    }
#endif
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
        return (fs::path(config) / "talrec").string();
    }
    const char* home = std::getenv("HOME");
    return (fs::path(home != nullptr ? home : ".") / ".config" / "talrec").string();
}

std::unique_ptr<PairingStore> PairingStore::Open(const std::string& folder, std::string& error) {
    std::unique_ptr<platform::PrivateFolder> opened = platform::PrivateFolder::Open(folder, error);
    if (!opened) return nullptr;
    std::unique_ptr<PairingStore> store(new PairingStore(std::move(opened)));
    store->Refresh();
    return store;
}

PairingStore::PairingStore(std::unique_ptr<platform::PrivateFolder> folder)
    : folder_(std::move(folder)), file_(folder_->Path() + "/" + kFile) {}

PairingStore::~PairingStore() = default;

bool PairingStore::Load(std::string& error) {
    text_ = folder_->Read(kFile).value_or("");
    pairings_.clear();
    if (text_.empty()) return true;
    const nlohmann::json root = nlohmann::json::parse(text_, nullptr, false);
    if (!root.is_object() || !root.contains("pairings") || !root["pairings"].is_array()) {
        error = file_ + " is not a pairings file; move it away to start afresh";
        return false;
    }
    for (const auto& entry : root["pairings"]) {
        if (!entry.is_object() || !entry.contains("origin") || !entry["origin"].is_string()) {
            continue;
        }
        std::optional<std::string> origin = NormalizeWebOrigin(entry["origin"].get<std::string>());
        if (!origin) continue;
        pairings_.push_back({*origin, entry.value("tokenSha256", ""), entry.value("paired", ""),
                             entry.value("lastUsed", "")});
    }
    return true;
}

bool PairingStore::Save(std::string& error) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Pairing& p : pairings_) {
        list.push_back({{"origin", p.origin},
                        {"tokenSha256", p.tokenSha256},
                        {"paired", p.paired},
                        {"lastUsed", p.lastUsed}});
    }
    const std::string text = nlohmann::ordered_json{{"pairings", list}}.dump(2) + "\n";
    if (!folder_->Write(kFile, text, error)) return false;
    text_ = text;
    return true;
}

bool PairingStore::Refresh() {
    if (folder_->Read(kFile).value_or("") == text_) return false;
    std::string error;
    Load(error);
    return true;
}

std::optional<Pairing> PairingStore::Find(const std::string& origin) const {
    for (const Pairing& p : pairings_) {
        if (p.origin == origin) return p;
    }
    return std::nullopt;
}

std::optional<std::string> PairingStore::Pair(const std::string& origin, std::string& error) {
    std::string token = NewToken();
    const platform::PrivateFolder::Lock lock(*folder_);
    if (!Load(error)) return std::nullopt;
    std::erase_if(pairings_, [&](const Pairing& p) { return p.origin == origin; });
    pairings_.push_back({origin, Sha256Hex(token), Now(), ""});
    if (!Save(error)) return std::nullopt;
    return token;
}

bool PairingStore::Allow(const std::string& origin, std::string& error) {
    const platform::PrivateFolder::Lock lock(*folder_);
    if (!Load(error)) return false;
    std::erase_if(pairings_, [&](const Pairing& p) { return p.origin == origin; });
    pairings_.push_back({origin, "", Now(), ""});
    return Save(error);
}

bool PairingStore::Revoke(const std::string& origin, std::string& error) {
    error.clear();
    const platform::PrivateFolder::Lock lock(*folder_);
    if (!Load(error)) return false;
    if (std::erase_if(pairings_, [&](const Pairing& p) { return p.origin == origin; }) == 0) {
        return false;
    }
    return Save(error);
}

bool PairingStore::Verify(const std::string& origin, std::string_view token) {
    Refresh();
    std::optional<Pairing> pairing = Find(origin);
    if (!pairing || !TokenMatches(Sha256Hex(token), pairing->tokenSha256)) return false;
    // The last use, to the minute: a busy page does not rewrite the file at every request.
    const std::string now = Now();
    if (pairing->lastUsed.substr(0, 16) == now.substr(0, 16)) return true;
    const platform::PrivateFolder::Lock lock(*folder_);
    std::string error;
    if (!Load(error)) return false;
    // Revoked or paired again meanwhile: the token no longer holds.
    auto it = std::find_if(pairings_.begin(), pairings_.end(), [&](const Pairing& p) {
        return p.origin == origin && p.tokenSha256 == pairing->tokenSha256;
    });
    if (it == pairings_.end()) return false;
    it->lastUsed = now;
    Save(error);
    return true;
}

}  // namespace talrec::host
