// A process's exclusive hold of an open module, across processes: an advisory
// flock on a lock file named after the module's path, which the kernel drops
// when the process dies, so no stale lock ever needs clearing by hand. The
// path is hidapi's name for the device and need not be a file: it is never
// opened or examined, only spelled into the lock file's name.
#pragma once

#include <string>
#include <vector>

namespace quillon {

enum class HoldResult { Held, Busy };

class ModuleHold {
  public:
    ModuleHold() = default;
    ~ModuleHold() { release(); }
    ModuleHold(const ModuleHold&) = delete;
    ModuleHold& operator=(const ModuleHold&) = delete;

    // Takes the hold of the module at `path`, without waiting: Busy while
    // another process holds it. A folder where no lock file can be made is
    // passed over.
    HoldResult acquire(const std::string& path);
    void release();

  private:
    struct Lock {
        int fd;
        std::string file;
    };
    std::vector<Lock> locks_;
};

// The folders the lock files go in: $XDG_RUNTIME_DIR, /run/lock and the
// temporary folder, each when it exists. The hold is taken in all of them, so
// that processes that see different folders (a desktop session, a cron job
// without $XDG_RUNTIME_DIR) still exclude each other.
std::vector<std::string> holdFolders();
// The lock file's name for a module path: the path with every byte outside
// [A-Za-z0-9.-] written as %XX, or a hash of it when that grows too long.
std::string holdFileName(const std::string& path);

}  // namespace quillon
