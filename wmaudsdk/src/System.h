// What the component needs from the system it runs on.
#pragma once

#include <string>

#include "platform/codepage.h"

// The file name FFmpeg's file protocol opens for a caller's UTF-16 name; false when the name
// has no form in that encoding (the caller answers ERROR_NO_UNICODE_TRANSLATION).
bool FileSystemName(LPCWSTR name, std::string& out);

// Makes the output file a new file's owner alone may read, as the recordings it is made from
// are, before FFmpeg opens it; a file that exists keeps its permissions. Failures are left to
// FFmpeg's open, which reports them.
void PrepareOutputFile(const std::string& path);
