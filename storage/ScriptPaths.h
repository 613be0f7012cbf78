// Where the file paths that a script passes may lie. The control is marked safe for
// scripting, so any page that hosts it may call it; a path to record, play, convert or delete
// must resolve inside the data folder or inside a folder that the container grants
// (platform/ext/grantedfolders.h). Paths are resolved first, so ".." and symbolic links cannot lead
// outside; and the files are then reached without following links (ScriptFileScope), so a part
// of a path swapped for a link after its check cannot lead outside either.
#pragma once

#include <string>
#include <vector>

#include "platform/ext/paths.h"

// The folders scripts may name files in, resolved: the data folder and the granted ones.
std::vector<std::string> ScriptFolders();

// True when `path` resolves inside the data folder or a granted folder.
bool IsScriptPathAllowed(const std::string& path);

// True when `path` resolves to one of those folders or inside one: a folder a script may name.
bool IsScriptFolderAllowed(const std::string& path);

// While it lives, the files that the calling thread opens, creates or deletes by path stay
// inside the folders scripts may name files in, even when a part of a path has been swapped
// for a link since the path was checked (talrec::platform::PathConfinement).
class ScriptFileScope {
  public:
    ScriptFileScope() : confinement_(ScriptFolders()) {}

  private:
    talrec::platform::PathConfinement confinement_;
};
