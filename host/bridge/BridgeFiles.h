// The data folder's files as the bridge serves them: the listing and one file's bytes. Only
// plain files directly inside the folder are served (host/common/DataFiles.h); anything else is
// "not found". On the loop's thread.
#pragma once

#include <optional>
#include <string>

#include "host/common/DataFiles.h"
#include "platform/ext/loopserver.h"

namespace talrec::host {

// The listing (ListDataFolder, host/common/DataFiles.h) as a JSON response.
platform::HttpResponse ListDataFiles(const std::string& dataFolder);

// The file `name` (already percent-decoded) with Content-Type audio/wav, audio/x-ms-wma or
// application/octet-stream, and one byte range when `range` asks for one ("bytes=A-B",
// "bytes=A-", "bytes=-N"; 416 when it lies past the end; several ranges: the whole file).
platform::HttpResponse ServeDataFile(const std::string& dataFolder, const std::string& name,
                                     const std::optional<std::string>& range);

}  // namespace talrec::host
