#include "host/bridge/BridgePolicy.h"

#include <algorithm>
#include <cctype>

namespace talrec::host {
namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool IsLoopbackHost(const std::optional<std::string>& host, std::uint16_t port) {
    if (!host) return false;
    const std::string suffix = ":" + std::to_string(port);
    std::string value = Lower(*host);
    return value == "127.0.0.1" + suffix || value == "localhost" + suffix ||
           value == "[::1]" + suffix;
}

std::optional<std::string> NormalizeOrigin(std::string_view origin) {
    if (!origin.empty() && origin.back() == '/') origin.remove_suffix(1);
    std::string value = Lower(origin);
    std::size_t scheme = value.find("://");
    if (scheme == std::string::npos || scheme == 0 || scheme + 3 == value.size()) {
        return std::nullopt;
    }
    // Nothing after the authority: an origin has no path, query or fragment.
    if (value.find_first_of("/?#@ ", scheme + 3) != std::string::npos) return std::nullopt;
    return value;
}

bool IsAllowedOrigin(const std::optional<std::string>& origin, std::uint16_t port,
                     const std::vector<std::string>& allowed) {
    if (!origin) return true;
    std::optional<std::string> value = NormalizeOrigin(*origin);
    if (!value) return false;
    const std::string suffix = ":" + std::to_string(port);
    if (*value == "http://127.0.0.1" + suffix || *value == "http://localhost" + suffix ||
        *value == "http://[::1]" + suffix) {
        return true;
    }
    return std::find(allowed.begin(), allowed.end(), *value) != allowed.end();
}

std::string_view TargetPath(std::string_view target) {
    return target.substr(0, target.find('?'));
}

std::optional<std::string> PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int high = HexValue(text[i + 1]);
        int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        char c = static_cast<char>(high * 16 + low);
        if (c == '\0') return std::nullopt;
        out.push_back(c);
        i += 2;
    }
    return out;
}

std::optional<std::string> QueryParam(std::string_view target, std::string_view name) {
    std::size_t question = target.find('?');
    if (question == std::string_view::npos) return std::nullopt;
    std::string_view query = target.substr(question + 1);
    query = query.substr(0, query.find('#'));
    while (!query.empty()) {
        std::size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        std::size_t eq = pair.find('=');
        if (pair.substr(0, eq) == name) {
            return PercentDecode(eq == std::string_view::npos ? std::string_view()
                                                              : pair.substr(eq + 1));
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

}  // namespace talrec::host
