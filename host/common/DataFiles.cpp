#include "host/common/DataFiles.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>

#include "host/common/MediaInfo.h"

namespace talrec::host {
namespace fs = std::filesystem;
namespace {

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
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
        return false;
    }
    // The system's own reading: a name is its last part alone, with no drive (on Windows "\"
    // separates too, and "C:" names a drive).
    const fs::path path(name);
    return !path.has_root_name() && path.filename() == path;
}

std::optional<std::uintmax_t> PlainFileSize(const std::string& dataFolder,
                                            const std::string& name) {
    if (!IsPlainFileName(name)) return std::nullopt;
    const fs::path path = fs::path(dataFolder) / name;
    std::error_code ec;
    if (fs::symlink_status(path, ec).type() != fs::file_type::regular) return std::nullopt;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) return std::nullopt;
    return size;
}

nlohmann::json ListDataFolder(const std::string& dataFolder) {
    nlohmann::json files = nlohmann::json::array();
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dataFolder, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::map<std::string, Probed> seen;
    for (const std::string& name : names) {
        const fs::path path = fs::path(dataFolder) / name;
        std::optional<std::uintmax_t> size = PlainFileSize(dataFolder, name);
        if (!size) continue;
        nlohmann::json file = {{"name", name}, {"size", *size}, {"duration", nullptr}};
        auto modified = fs::last_write_time(path, ec);
        file["modified"] = ec ? nlohmann::json() : nlohmann::json(IsoTime(modified));
        std::string ext = path.extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (!ec && (ext == ".wav" || ext == ".wma")) {
            double seconds = Duration(path, *size, modified, seen);
            if (seconds >= 0) file["duration"] = seconds;
        }
        files.push_back(std::move(file));
    }
    g_probed = std::move(seen);  // files gone from the folder are forgotten
    return files;
}

}  // namespace talrec::host
