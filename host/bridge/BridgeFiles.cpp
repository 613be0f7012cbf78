#include "host/bridge/BridgeFiles.h"

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "host/common/DataFiles.h"

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

}  // namespace

platform::HttpResponse ListDataFiles(const std::string& dataFolder) {
    platform::HttpResponse response;
    response.headers = {{"Content-Type", "application/json"}};
    response.body =
        ListDataFolder(dataFolder).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return response;
}

platform::HttpResponse ServeDataFile(const std::string& dataFolder, const std::string& name,
                                     const std::optional<std::string>& range) {
    const std::optional<std::uintmax_t> found = PlainFileSize(dataFolder, name);
    if (!found) return NotFound();
    const std::uintmax_t size = *found;
    fs::path path = fs::path(dataFolder) / name;

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
