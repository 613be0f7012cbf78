#include "host/bridge/BridgeFiles.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "host/common/MediaInfo.h"

namespace talrec::host {
namespace fs = std::filesystem;
namespace {

platform::HttpResponse NotFound() {
    platform::HttpResponse response;
    response.status = 404;
    response.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
    response.body = "not found\n";
    return response;
}

std::string Extension(const std::string& name) {
    std::string ext = fs::path(name).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

std::string ContentType(const std::string& name) {
    std::string ext = Extension(name);
    if (ext == ".wav") return "audio/wav";
    if (ext == ".wma") return "audio/x-ms-wma";
    return "application/octet-stream";
}

std::string IsoTime(fs::file_time_type when) {
    auto system = std::chrono::file_clock::to_sys(when);
    std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(system));
    char text[32] = "";
    // std::gmtime's buffer is shared, but only the loop's thread formats times here.
    if (const std::tm* utc = std::gmtime(&seconds)) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    }
    return text;
}

// A plain file directly in the folder: not a link, not a folder.
bool IsPlainFile(const fs::path& path, std::uintmax_t& size) {
    std::error_code ec;
    if (fs::symlink_status(path, ec).type() != fs::file_type::regular) return false;
    size = fs::file_size(path, ec);
    return !ec;
}

// Parses one byte range against a file of `size` bytes: true with [first, last] set; false for
// a form not understood (the whole file is sent); `unsatisfiable` for a range past the end.
bool ParseRange(const std::string& header, std::uint64_t size, std::uint64_t& first,
                std::uint64_t& last, bool& unsatisfiable) {
    unsatisfiable = false;
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0) return false;
    std::string range = header.substr(prefix.size());
    if (range.find(',') != std::string::npos) return false;
    std::size_t dash = range.find('-');
    if (dash == std::string::npos) return false;
    std::string a = range.substr(0, dash), b = range.substr(dash + 1);
    auto number = [](const std::string& text, std::uint64_t& out) {
        if (text.empty() || text.size() > 19 ||
            !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        out = std::stoull(text);
        return true;
    };
    if (a.empty()) {  // the last N bytes
        std::uint64_t n = 0;
        if (!number(b, n)) return false;
        if (n == 0 || size == 0) return unsatisfiable = true, false;
        first = n >= size ? 0 : size - n;
        last = size - 1;
        return true;
    }
    if (!number(a, first)) return false;
    if (b.empty()) {
        last = size == 0 ? 0 : size - 1;
    } else if (!number(b, last) || last < first) {
        return false;
    }
    if (first >= size) return unsatisfiable = true, false;
    last = std::min(last, size - 1);
    return true;
}

// The playing time of each sound file listed, kept while the file keeps its size and time, so
// that a page refreshing its list does not have the media service open every file again. Loop
// thread only.
struct Probed {
    std::uintmax_t size = 0;
    fs::file_time_type modified;
    double seconds = -1;
};
std::map<std::string, Probed> g_probed;

double Duration(const fs::path& path, std::uintmax_t size, fs::file_time_type modified,
                std::map<std::string, Probed>& seen) {
    auto it = g_probed.find(path.string());
    Probed probed =
        it != g_probed.end() && it->second.size == size && it->second.modified == modified
            ? it->second
            : Probed{size, modified, MediaSeconds(path.string())};
    seen[path.string()] = probed;
    return probed.seconds;
}

}  // namespace

bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

platform::HttpResponse ListDataFiles(const std::string& dataFolder) {
    nlohmann::json files = nlohmann::json::array();
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dataFolder, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::map<std::string, Probed> seen;
    for (const std::string& name : names) {
        fs::path path = fs::path(dataFolder) / name;
        std::uintmax_t size = 0;
        if (!IsPlainFile(path, size)) continue;
        nlohmann::json file = {{"name", name}, {"size", size}, {"duration", nullptr}};
        auto modified = fs::last_write_time(path, ec);
        file["modified"] = ec ? nlohmann::json() : nlohmann::json(IsoTime(modified));
        std::string ext = Extension(name);
        if (!ec && (ext == ".wav" || ext == ".wma")) {
            double seconds = Duration(path, size, modified, seen);
            if (seconds >= 0) file["duration"] = seconds;
        }
        files.push_back(std::move(file));
    }
    g_probed = std::move(seen);  // files gone from the folder are forgotten
    platform::HttpResponse response;
    response.headers = {{"Content-Type", "application/json"}};
    response.body = files.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return response;
}

platform::HttpResponse ServeDataFile(const std::string& dataFolder, const std::string& name,
                                     const std::optional<std::string>& range) {
    if (!IsPlainFileName(name)) return NotFound();
    fs::path path = fs::path(dataFolder) / name;
    std::uintmax_t size = 0;
    if (!IsPlainFile(path, size)) return NotFound();

    platform::HttpResponse response;
    response.headers = {{"Content-Type", ContentType(name)}, {"Accept-Ranges", "bytes"}};
    response.filePath = path.string();
    response.fileOffset = 0;
    response.fileLength = size;
    std::uint64_t first = 0, last = 0;
    bool unsatisfiable = false;
    if (range && ParseRange(*range, size, first, last, unsatisfiable)) {
        response.status = 206;
        response.fileOffset = first;
        response.fileLength = last - first + 1;
        response.headers.emplace_back("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                           std::to_string(last) + "/" +
                                                           std::to_string(size));
    } else if (unsatisfiable) {
        response = {};
        response.status = 416;
        response.headers = {{"Content-Range", "bytes */" + std::to_string(size)}};
    }
    return response;
}

}  // namespace talrec::host
