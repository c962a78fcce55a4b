// quillon setup: lets users open the module without root, by installing the
// project's udev rule and asking udev to apply it.
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "command_frame.h"
#include "exit_status.h"
#include "library_console.h"
#include "udev_rule.h"

extern char** environ;

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon setup [--root DIR]\n"
    "\n"
    "Installs the udev rule that gives the group plugdev, and the person at the\n"
    "seat, access to the module's hidraw node (USB 0451:4200), as\n"
    "DIR/etc/udev/rules.d/" QUILLON_UDEV_RULE_NAME
    ". On the running system (DIR is /, the\n"
    "default) it then reloads udev's rules and applies them to attached devices.\n"
    "Needs root: run it with sudo.\n"
    "\n"
    "  --root DIR   install below DIR instead of / (an image or a container); udev\n"
    "               is left alone then\n";

const OptionSpec kOptions[] = {{"root", true}};

bool permissionError(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

// Creates `path` and its missing parents; 0 or the errno of the first failure.
int makeDirectories(const std::string& path) {
    std::string partial;
    std::stringstream parts(path);
    for (std::string part; std::getline(parts, part, '/');) {
        partial += part + "/";
        if (part.empty()) continue;
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return errno;
    }
    return 0;
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : std::string();
}

// Writes `text` to `path` through a temporary file in its directory renamed
// over it: udev never reads half a rule. 0 or the errno of the failure.
int replaceFile(const std::string& path, const std::string& text) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return errno;
    int error = 0;
    if (fchmod(fd, 0644) != 0 ||
        write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) || fsync(fd) != 0)
        error = errno != 0 ? errno : EIO;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) unlink(temporary.c_str());
    return error;
}

// The first executable `name` in PATH or the system directories (sudo's PATH
// may lack the sbin ones); empty when there is none.
std::string findProgram(const char* name) {
    std::string dirs = "/usr/sbin:/sbin:/usr/bin:/bin";
    if (const char* path = std::getenv("PATH")) dirs = std::string(path) + ":" + dirs;
    std::stringstream parts(dirs);
    for (std::string dir; std::getline(parts, dir, ':');) {
        if (dir.empty()) continue;
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// Runs the program with `args` and waits for it; true when it exited with 0.
bool runProgram(const std::string& program, std::vector<std::string> args) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool isRealRoot(const std::string& root) {
    char resolved[PATH_MAX];
    return realpath(root.c_str(), resolved) != nullptr && std::strcmp(resolved, "/") == 0;
}

// Reloads the rules and replays the "add" of attached module nodes, so the new
// permissions apply without re-plugging; says what happened.
void applyRule(FILE* out) {
    const std::string udevadm = findProgram("udevadm");
    if (udevadm.empty()) {
        std::fprintf(out, "udevadm not found: udev was not told about the rule.\n");
        return;
    }
    const bool reloaded = runProgram(udevadm, {"control", "--reload-rules"});
    const bool triggered =
        reloaded && runProgram(udevadm, {"trigger", "--action=add", "--subsystem-match=hidraw"}) &&
        runProgram(udevadm, {"trigger", "--action=add", "--subsystem-match=usb",
                             "--attr-match=idVendor=0451", "--attr-match=idProduct=4200"});
    if (triggered)
        std::fprintf(out, "Reloaded udev's rules and applied them to attached modules.\n");
    else
        std::fprintf(out,
                     "%s failed; udev may apply the rule only when the module is plugged in.\n",
                     reloaded ? "udevadm trigger" : "udevadm control --reload-rules");
}

// Who runs this: the user behind sudo, else the calling user.
std::string invokingUser() {
    if (const char* user = std::getenv("SUDO_USER"); user != nullptr && *user != '\0') return user;
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr ? entry->pw_name : "";
}

bool inGroup(const std::string& user, const group& g) {
    for (char** member = g.gr_mem; *member != nullptr; ++member)
        if (user == *member) return true;
    const passwd* entry = getpwnam(user.c_str());
    return entry != nullptr && entry->pw_gid == g.gr_gid;
}

void printRemainingSteps(FILE* out, bool realRoot) {
    std::fprintf(out, "Still to do:\n");
    if (!realRoot)
        std::fprintf(out,
                     "  - on the system below that root, reload udev's rules (udevadm control "
                     "--reload-rules) or reboot it\n");
    std::fprintf(out, "  - unplug the module and plug it in again\n");
    const group* plugdev = getgrnam("plugdev");
    const std::string user = invokingUser();
    if (plugdev == nullptr) {
        std::fprintf(out,
                     "  - create the group plugdev (sudo groupadd plugdev) and add the users "
                     "of the module to it\n");
    } else if (user.empty() || user == "root") {
        std::fprintf(out,
                     "  - add each user of the module to the group plugdev (sudo usermod -aG "
                     "plugdev USER)\n");
    } else if (!inGroup(user, *plugdev)) {
        std::fprintf(out,
                     "  - add %s to the group plugdev (sudo usermod -aG plugdev %s), then log "
                     "out and in again\n",
                     user.c_str(), user.c_str());
    }
    std::fprintf(out,
                 "  (whoever sits at the computer gets access through the rule's uaccess "
                 "tag without joining plugdev)\n");
}

}  // namespace

int runSetup(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("setup", kHelp, words, kOptions, global, args)) return *done;
    if (!args.positional.empty())
        return usageError("setup", "unexpected '" + args.positional[0] + "'");
    std::string root = args.value("root").value_or("/");
    if (root.empty()) return usageError("setup", "--root needs a directory");
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    struct stat info {};
    if (stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return usageError("setup", "'" + root + "' is not a directory");
    const std::string dir = (root == "/" ? "" : root) + "/etc/udev/rules.d";
    const std::string path = dir + "/" QUILLON_UDEV_RULE_NAME;
    FILE* out = LibraryConsole::out();

    const bool current = readWhole(path) == kUdevRule;
    int error = current ? 0 : makeDirectories(dir);
    if (error == 0 && !current) error = replaceFile(path, kUdevRule);
    if (permissionError(error)) {
        std::fprintf(stderr, "quillon setup: writing %s needs root: run 'sudo quillon setup'\n",
                     path.c_str());
        return kExitFailed;
    }
    if (error != 0) {
        std::fprintf(stderr, "quillon setup: cannot write %s: %s\n", path.c_str(),
                     std::strerror(error));
        return kExitFailed;
    }
    std::fprintf(out, current ? "%s is already installed and up to date.\n" : "Installed %s.\n",
                 path.c_str());
    const bool realRoot = isRealRoot(root);
    if (realRoot)
        applyRule(out);
    else
        std::fprintf(out, "%s is not this system's root: udev was left alone.\n", root.c_str());
    printRemainingSteps(out, realRoot);
    return kExitOk;
}

}  // namespace quillon::cli
