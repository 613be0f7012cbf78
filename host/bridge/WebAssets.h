// The bridge's web files (host/web/: the demo page, the client module and its types), built
// into the program so that an installed talrec serves them too.
#pragma once

#include <string_view>

namespace talrec::host {

struct WebAsset {
    std::string_view path;         // as requested: "/", "/talrec.js", ...
    std::string_view contentType;  // with its charset
    std::string_view bytes;
};

// The asset served at `path`, or null.
const WebAsset* FindWebAsset(std::string_view path);

}  // namespace talrec::host
