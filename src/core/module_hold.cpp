#include "core/module_hold.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace quillon {
namespace {

constexpr size_t kMaxEncoded = 200;

bool isFolder(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Opens the lock file, creating it when missing. In a sticky shared folder an
// existing file of another user may be opened only without O_CREAT.
int openLockFile(const std::string& file) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0 || errno != ENOENT) return fd;
        fd = open(file.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            // Readable by everyone, whatever the umask: flock needs only that.
            (void)fchmod(fd, 0644);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// The lock is good only while the file still has this name: a holder that
// released it unlinked it first, and a new one may already stand there.
bool stillNamed(int fd, const std::string& file) {
    struct stat held {
    }, named{};
    return fstat(fd, &held) == 0 && stat(file.c_str(), &named) == 0 &&
           held.st_ino == named.st_ino && held.st_dev == named.st_dev;
}

}  // namespace

std::vector<std::string> holdFolders() {
    std::vector<std::string> folders;
    auto add = [&](const char* folder) {
        if (folder == nullptr || !isFolder(folder)) return;
        for (const std::string& known : folders)
            if (known == folder) return;
        folders.emplace_back(folder);
    };
    add(std::getenv("XDG_RUNTIME_DIR"));
    add("/run/lock");
    const char* temporary = std::getenv("TMPDIR");
    add(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp");
    return folders;
}

std::string holdFileName(const std::string& path) {
    std::string encoded;
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '-') {
            encoded += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            encoded += escaped;
        }
    }
    if (encoded.size() > kMaxEncoded) {
        uint64_t hash = 1469598103934665603ull;  // FNV-1a
        for (unsigned char c : path) hash = (hash ^ c) * 1099511628211ull;
        char text[32];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
        encoded = std::string("h") + text;
    }
    return "quillonlib-" + encoded + ".lock";
}

HoldResult ModuleHold::acquire(const std::string& path) {
    release();
    const std::string name = holdFileName(path);
    for (const std::string& folder : holdFolders()) {
        const std::string file = folder + "/" + name;
        for (;;) {
            const int fd = openLockFile(file);
            if (fd < 0) break;  // no lock file here: the other folders still count
            if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
                const bool busy = errno == EWOULDBLOCK;
                close(fd);
                if (!busy) break;
                release();
                return HoldResult::Busy;
            }
            if (stillNamed(fd, file)) {
                locks_.push_back({fd, file});
                break;
            }
            close(fd);
        }
    }
    return HoldResult::Held;
}

void ModuleHold::release() {
    // Unlinked while still locked, so a process that opens the name next
    // finds a fresh file, and one that opened the old file sees it renamed.
    for (const Lock& lock : locks_) {
        unlink(lock.file.c_str());
        close(lock.fd);
    }
    locks_.clear();
}

}  // namespace quillon
