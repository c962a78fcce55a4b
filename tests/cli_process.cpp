#include "cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

}  // namespace

CliRun runQuillon(const std::vector<std::string>& args, const Env& env, bool terminal) {
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

    std::vector<char*> envp, argv;
    for (std::string& item : environment) envp.push_back(item.data());
    envp.push_back(nullptr);
    std::string program = QUILLON_CLI_PATH;
    std::vector<std::string> words = args;
    argv.push_back(program.data());
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    const std::string outPath = temporaryFile(), errPath = temporaryFile();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_TRUNC,
                                     0);
    int master = -1;
    if (terminal) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {};
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, ptsname(master), O_RDWR, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                         O_WRONLY | O_TRUNC, 0);
    }
    CliRun run;
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        bool exited = false;
        for (;;) {
            if (master >= 0) {  // keep the terminal drained so the child never blocks on it
                pollfd ready{master, POLLIN, 0};
                char buffer[4096];
                while (poll(&ready, 1, 20) > 0) {
                    const ssize_t got = read(master, buffer, sizeof buffer);
                    if (got <= 0) break;
                    run.err.append(buffer, static_cast<size_t>(got));
                }
            }
            if (exited) break;
            const pid_t done = waitpid(pid, &status, master >= 0 ? WNOHANG : 0);
            exited = done == pid || (done < 0 && errno != EINTR);
            if (exited && master < 0) break;  // a terminal is drained once more
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = readFile(outPath);
    if (master >= 0)
        close(master);
    else
        run.err = readFile(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return run;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) found.push_back(line);
    return found;
}

}  // namespace quillon::test
