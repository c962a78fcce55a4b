#include "cli_process.h"

#include <fcntl.h>
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

CliRun runQuillon(const std::vector<std::string>& args,
                  const std::map<std::string, std::optional<std::string>>& env) {
    std::map<std::string, std::optional<std::string>> settings = {
        {"QUILLONLIB_SIMULATOR", "1"}, {"QUILLONLIB_SIMULATOR_TIME_SCALE", "0"}};
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
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_TRUNC,
                                     0);
    CliRun run;
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = readFile(outPath);
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
