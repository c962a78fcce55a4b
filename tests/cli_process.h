// Runs the built quillon program as a user would, with the simulated module
// chosen through the environment, and collects what it printed.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillon::test {

struct CliRun {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

// The child sees the test's environment without any QUILLONLIB_ variable,
// then QUILLONLIB_SIMULATOR=1 and QUILLONLIB_SIMULATOR_TIME_SCALE=0, then
// `env` (a value of nullopt removes the variable). It runs in the current
// working directory.
CliRun runQuillon(const std::vector<std::string>& args,
                  const std::map<std::string, std::optional<std::string>>& env = {});

// As runQuillon, with standard error on a pseudo-terminal; `err` holds what
// the terminal received.
CliRun runQuillonOnTerminal(const std::vector<std::string>& args,
                            const std::map<std::string, std::optional<std::string>>& env = {});

// Lines of `text`, without their line ends.
std::vector<std::string> lines(const std::string& text);

}  // namespace quillon::test
