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
    std::string out;
    std::string err;  // with `terminal`: what the pseudo-terminal received
};

using Env = std::map<std::string, std::optional<std::string>>;

// The child runs in the current directory and sees the test's environment
// without any QUILLONLIB_ variable, then QUILLONLIB_SIMULATOR=1 and
// QUILLONLIB_SIMULATOR_TIME_SCALE=0, then `env` (nullopt removes a variable).
// With `terminal`, standard error is a pseudo-terminal.
CliRun runQuillon(const std::vector<std::string>& args, const Env& env = {}, bool terminal = false);

// Lines of `text`, without their line ends.
std::vector<std::string> lines(const std::string& text);

}  // namespace quillon::test
