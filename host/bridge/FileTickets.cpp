#include "host/bridge/FileTickets.h"

#include <algorithm>

#include "host/common/Secrets.h"
#include "host/common/Sha256.h"

namespace talrec::host {

void FileTickets::DropExpired(std::chrono::steady_clock::time_point now) {
    std::erase_if(tickets_, [now](const auto& item) { return item.second.expires <= now; });
}

std::string FileTickets::Issue(const std::string& name) {
    const auto now = std::chrono::steady_clock::now();
    DropExpired(now);
    if (tickets_.size() >= kMaxLive) {
        tickets_.erase(std::min_element(tickets_.begin(), tickets_.end(), [](auto& a, auto& b) {
            return a.second.expires < b.second.expires;
        }));
    }
    std::string ticket = NewToken();
    tickets_[Sha256Hex(ticket)] = Entry{name, now + lifetime_};
    return ticket;
}

bool FileTickets::Opens(const std::string& ticket, const std::string& name) {
    DropExpired(std::chrono::steady_clock::now());
    auto it = tickets_.find(Sha256Hex(ticket));
    return it != tickets_.end() && it->second.name == name;
}

}  // namespace talrec::host
