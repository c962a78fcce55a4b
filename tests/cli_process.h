// Runs the built quillon program as a user would, with the simulated module
// chosen through the environment, and collects what it printed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillon::test {

struct CliRun {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;  // with `terminal`: what the pseudo-terminal received
};

using Env = std::map<std::string, std::optional<std::string>>;

struct Launch {
    bool terminal = false;      // standard error is a pseudo-terminal
    std::optional<uid_t> user;  // run as this user (needs root)
};

// The program running in the background. The child runs in the current
// directory and sees the test's environment without any QUILLONLIB_ variable,
// then QUILLONLIB_SIMULATOR=1 and QUILLONLIB_SIMULATOR_TIME_SCALE=0, then `env`
// (nullopt removes a variable).
class CliChild {
  public:
    CliChild(const std::vector<std::string>& args, const Env& env = {}, Launch launch = {});
    // Kills a child still running.
    ~CliChild();
    CliChild(const CliChild&) = delete;
    CliChild& operator=(const CliChild&) = delete;

    void signal(int number) const;
    // What the child wrote on standard output, and on standard error, so far.
    std::string outSoFar() const;
    std::string errSoFar();
    // Waits for the child to end; one still running after `limit` is killed
    // and reported with status -1.
    CliRun wait(std::chrono::milliseconds limit = std::chrono::minutes(5));

  private:
    // Moves what the terminal holds into terminalText_, waiting up to 20 ms for it.
    void drainTerminal();

    pid_t pid_ = -1;
    int terminal_ = -1;
    std::string terminalText_;
    std::string outPath_, errPath_;
    std::string programCopy_;  // for another user: the folder holding the copy it runs
};

CliRun runQuillon(const std::vector<std::string>& args, const Env& env = {}, bool terminal = false);

// Polls until `ready` holds, at most a minute, so a program that never gets
// there fails the test instead of hanging it. False when it never did.
template <class F>
bool eventually(F ready) {
    for (int i = 0; i < 6000; ++i) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Lines of `text`, without their line ends.
std::vector<std::string> lines(const std::string& text);

}  // namespace quillon::test
