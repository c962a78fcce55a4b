// The program's commands. Each takes the words after its name and returns
// the exit status.
#pragma once

#include <string>
#include <vector>

#include "module_session.h"

namespace quillon::cli {

using Words = std::vector<std::string>;

struct Command {
    const char* name;
    const char* synopsis;  // for the overall usage
    int (*run)(const Words& words, GlobalOptions& global);
};

int runList(const Words& words, GlobalOptions& global);
int runInfo(const Words& words, GlobalOptions& global);
int runConfigs(const Words& words, GlobalOptions& global);
int runConfig(const Words& words, GlobalOptions& global);
int runActivate(const Words& words, GlobalOptions& global);
int runLamp(const Words& words, GlobalOptions& global);
int runLimits(const Words& words, GlobalOptions& global);
int runScan(const Words& words, GlobalOptions& global);
int runSetup(const Words& words, GlobalOptions& global);
int runHadamard(const Words& words, GlobalOptions& global);
int runServe(const Words& words, GlobalOptions& global);
int runPublish(const Words& words, GlobalOptions& global);

}  // namespace quillon::cli
