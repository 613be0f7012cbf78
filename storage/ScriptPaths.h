// Where the file paths that a script passes may lie. The control is marked safe for
// scripting, so any page that hosts it may call it; a path to record, play, convert or delete
// must resolve inside the data folder or inside a folder that the container grants
// (platform/ext/grantedfolders.h). Paths are resolved first, so ".." and symbolic links cannot lead
// outside.
#pragma once

#include <string>

// True when `path` resolves inside the data folder or a granted folder.
bool IsScriptPathAllowed(const std::string& path);
