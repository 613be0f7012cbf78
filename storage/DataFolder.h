// The control's per-user data folder and the deletion of audio files in it.
// Everything here runs on the caller's thread (the container's user-interface thread).
#pragma once

#include <string>

#include "platform/windef.h"

// The data folder: the application-data folder with every "Roaming" replaced by "LocalLow",
// then the separator and "quorvex"; no trailing separator. Computed afresh at every call; the
// folder's last component is created when its parent exists.
std::string ComputeDataFolder();

// 0 when the file at `filePath` was deleted, 1 when it was not (missing, read-only, a folder,
// held open). The path is taken as given: the dispatch has applied the path rule for scripts.
LONG DeleteAudioFile(const char* filePath);

// Deletes every file directly in the data folder, whatever its type; sub-folders and their
// contents stay. 0 when every file found was deleted (also when there was none), else 1.
LONG DeleteAudioFileALL();
