// The data folder's files as pages see them, whichever way a page reaches talrec (the bridge's
// /files, native messaging's host.listFiles and host.readFile): only plain files directly inside
// the folder count; no sub-folder, no symbolic link, no name with a separator (on Windows a
// backslash too) or a drive. On the host's user-interface thread.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace talrec::host {

// Whether `name` may name a file directly inside the data folder.
bool IsPlainFileName(const std::string& name);

// The size of `name` in `dataFolder` when it is a plain file there (not a link, not a folder);
// nullopt otherwise, also for a name that IsPlainFileName refuses.
std::optional<std::uintmax_t> PlainFileSize(const std::string& dataFolder, const std::string& name);

// By name: {"name", "size" (bytes), "modified" (ISO 8601, UTC), "duration" (seconds, for .wav
// and .wma files the media service can read; else null)}.
nlohmann::json ListDataFolder(const std::string& dataFolder);

}  // namespace talrec::host
