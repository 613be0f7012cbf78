// A folder that only the user running the program can read or change, for files that carry a
// secret (the bridge's serve.json with its token): a platform extension for containers. The
// folder is used through a descriptor opened once, so that no name along its path is looked up
// again; its files are made and read without following a symbolic link. Both targets have it:
// on Windows (platform/win32/private_folder.cpp) the folder's access list is made the user's
// alone, links and junctions are refused, and the lock is a lock file's.
//
// Any thread, one object at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace talrec::platform {

class PrivateFolder {
  public:
    // Opens `path`, creating it (mode 0700, and its missing parents) when it does not exist.
    // Refuses, with `error` set to one line that names the owner and the mode and says what to
    // do: a symbolic link, something not a folder, a folder of another user, and one that
    // others may write to. A folder of the user's own that others may only read is closed to
    // them (0700).
    static std::unique_ptr<PrivateFolder> Open(const std::string& path, std::string& error);
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    const std::string& Path() const { return path_; }

    // Replaces the file `name` with `text`, whole or not at all: written into a new file (mode
    // 0600, made exclusively, never through a link) and renamed over it.
    bool Write(const std::string& name, const std::string& text, std::string& error);
    // The content of a regular file, not through a link; nullopt when there is none.
    std::optional<std::string> Read(const std::string& name) const;
    bool Remove(const std::string& name);

    // Holds the folder's lock while it lives (advisory: it excludes the holders in other
    // processes and other objects of the same folder), so that a file read, changed and written
    // again loses nobody else's change meanwhile. Blocks until the lock is had.
    class Lock {
      public:
        explicit Lock(const PrivateFolder& folder);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
#ifdef _WIN32
        void* file_;
#else
        int fd_;
#endif
    };

  private:
    PrivateFolder(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    int fd_;
    std::string path_;
};

// Whether a process with this id runs (also one of another user).
bool ProcessRuns(unsigned long pid);

}  // namespace talrec::platform
