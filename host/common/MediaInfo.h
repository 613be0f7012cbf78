// What the media service says of a sound file, for the containers that show or list files.
// On the calling thread; it opens and closes the file through the media service.
#pragma once

#include <string>

namespace talrec::host {

// The playing time of a sound file in seconds; < 0 when the media service cannot read it.
double MediaSeconds(const std::string& path);

}  // namespace talrec::host
