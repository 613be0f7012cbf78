// Short-lived tickets for one file of the data folder: what `<audio src>` and a download link
// carry instead of the token, which must never stand in an address a browser keeps. A ticket
// opens its one file for its lifetime, as often as a player's range requests need; it opens no
// other file and no listing. Loop thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

namespace talrec::host {

class FileTickets {
  public:
    explicit FileTickets(std::chrono::milliseconds lifetime) : lifetime_(lifetime) {}

    // A new ticket (64 hex digits) for the file `name`.
    std::string Issue(const std::string& name);
    // Whether `ticket` is a live ticket for `name`.
    bool Opens(const std::string& ticket, const std::string& name);

  private:
    struct Entry {
        std::string name;
        std::chrono::steady_clock::time_point expires;
    };
    void DropExpired(std::chrono::steady_clock::time_point now);

    // A page asking for tickets without end must not grow the table without end: beyond this
    // many live ones the oldest goes.
    static constexpr std::size_t kMaxLive = 1024;

    std::chrono::milliseconds lifetime_;
    // By the ticket's SHA-256, so that looking one up reveals nothing about the others.
    std::map<std::string, Entry> tickets_;
};

}  // namespace talrec::host
