#include "cli_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/scratch_dir.h"

extern char** environ;

namespace quillon::test {
namespace {

std::string temporaryFile() {
    char name[] = "/tmp/quillon-cli-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return name;
}

std::vector<std::string> childEnvironment(const Env& env) {
    Env settings = {{"QUILLONLIB_SIMULATOR", "1"}, {"QUILLONLIB_SIMULATOR_TIME_SCALE", "0"}};
    for (const auto& [key, value] : env) settings[key] = value;
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "QUILLONLIB_", 11) == 0) continue;
        const std::string text = *entry;
        if (settings.count(text.substr(0, text.find('='))) != 0) continue;
        environment.push_back(text);
    }
    for (const auto& [key, value] : settings)
        if (value) environment.push_back(key + "=" + *value);
    return environment;
}

// The build folder may lie where only its owner can enter (a checkout in a
// private home): another user runs a copy of the program and the two shared
// objects it loads, in a folder everyone may read. Empty when copying failed.
std::string programCopy() {
    namespace fs = std::filesystem;
    char name[] = "/tmp/quillon-cli-program-XXXXXX";
    if (mkdtemp(name) == nullptr) return "";
    const fs::path folder = name, library = QUILLONLIB_SO_PATH;
    std::error_code ec;
    fs::permissions(folder,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ec);
    fs::copy_file(QUILLON_CLI_PATH, folder / "quillon", ec);
    if (!ec) fs::copy_file(library, folder / QUILLONLIB_SONAME, ec);
    if (!ec)
        fs::copy_file(library.parent_path() / "libquillon_sim.so", folder / "libquillon_sim.so",
                      ec);
    if (ec) {
        fs::remove_all(folder, ec);
        return "";
    }
    return name;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> out;
    for (std::string& word : words) out.push_back(word.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

CliChild::CliChild(const std::vector<std::string>& args, const Env& env, Launch launch)
    : outPath_(temporaryFile()), errPath_(temporaryFile()) {
    Env settings = env;
    std::string program = QUILLON_CLI_PATH;
    if (launch.user) {
        programCopy_ = programCopy();
        if (programCopy_.empty()) {
            std::ofstream(errPath_) << "could not copy the program into a folder others may read\n";
            return;
        }
        program = programCopy_ + "/quillon";
        settings["LD_LIBRARY_PATH"] = programCopy_;
    }
    std::vector<std::string> environment = childEnvironment(settings);
    std::vector<std::string> words = args;
    words.insert(words.begin(), program);
    std::vector<char*> envp = pointers(environment), argv = pointers(words);
    std::string terminalName;
    if (launch.terminal) {
        terminal_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal_ < 0 || grantpt(terminal_) != 0 || unlockpt(terminal_) != 0) return;
        terminalName = ptsname(terminal_);
    }
    if (launch.user) {
        // The child's files must be the other user's to write.
        for (const std::string* path : {&outPath_, &errPath_})
            if (chown(path->c_str(), *launch.user, static_cast<gid_t>(-1)) != 0) return;
    }
    const std::string& errTarget = launch.terminal ? terminalName : errPath_;
    pid_ = fork();
    if (pid_ != 0) return;
    // The child: only async-signal-safe calls until exec.
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath_.c_str(), O_WRONLY | O_TRUNC);
    const int err = open(errTarget.c_str(), launch.terminal ? O_RDWR : O_WRONLY | O_TRUNC);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
        _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (launch.user &&
        (setgroups(0, nullptr) != 0 || setgid(*launch.user) != 0 || setuid(*launch.user) != 0))
        _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
}

CliChild::~CliChild() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (terminal_ >= 0) close(terminal_);
    unlink(outPath_.c_str());
    unlink(errPath_.c_str());
    std::error_code ec;
    if (!programCopy_.empty()) std::filesystem::remove_all(programCopy_, ec);
}

void CliChild::signal(int number) const {
    if (pid_ > 0) kill(pid_, number);
}

std::string CliChild::outSoFar() const {
    return readFile(outPath_);
}

std::string CliChild::errSoFar() {
    if (terminal_ < 0) return readFile(errPath_);
    drainTerminal();
    return terminalText_;
}

void CliChild::drainTerminal() {
    pollfd ready{terminal_, POLLIN, 0};
    char buffer[4096];
    while (poll(&ready, 1, 20) > 0) {
        const ssize_t got = read(terminal_, buffer, sizeof buffer);
        if (got <= 0) break;
        terminalText_.append(buffer, static_cast<size_t>(got));
    }
}

CliRun CliChild::wait(std::chrono::milliseconds limit) {
    CliRun run;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    bool exited = pid_ <= 0, timedOut = false;
    for (;;) {
        // Keep the terminal drained so the child never blocks on it.
        if (terminal_ >= 0) drainTerminal();
        if (exited) break;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        exited = done == pid_ || (done < 0 && errno != EINTR);
        if (!exited && std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            exited = timedOut = true;
        }
        if (!exited && terminal_ < 0) usleep(2000);
        if (exited && terminal_ < 0) break;  // a terminal is drained once more
    }
    if (pid_ > 0 && !timedOut) run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    run.out = readFile(outPath_);
    run.err = terminal_ < 0 ? readFile(errPath_) : terminalText_;
    return run;
}

CliRun runQuillon(const std::vector<std::string>& args, const Env& env, bool terminal) {
    return CliChild(args, env, {terminal, std::nullopt}).wait();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) found.push_back(line);
    return found;
}

}  // namespace quillon::test
