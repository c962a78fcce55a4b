// Programs killed at random moments of a save: the next program that opens
// the module finds the list from before or the list that was meant, never
// less, with the active position that goes with it, and no leftover files.
// QUILLON_KILL_RUNS="add,rm,import,learn" sets the number of kills of each.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "cli_process.h"
#include "sim/state_file.h"
#include "support/scratch_dir.h"

using namespace quillon;
using namespace quillon::test;

namespace {

const char* const kSection =
    "type=Column,start=1000,end=1100,width=7.03,patterns=10,exposure=0.635";

struct KillCase {
    const char* name;
    std::vector<std::string> args;
    int defaultRuns;
};

std::vector<int> killCounts(const std::vector<KillCase>& cases) {
    std::vector<int> counts;
    for (const KillCase& c : cases) counts.push_back(c.defaultRuns);
    if (const char* text = std::getenv("QUILLON_KILL_RUNS")) {
        std::stringstream in(text);
        std::string item;
        for (size_t i = 0; i < counts.size() && std::getline(in, item, ','); ++i)
            counts[i] = std::atoi(item.c_str());
    }
    return counts;
}

sim::PersistedState readState(const std::string& path) {
    std::vector<sim::PersistedState> modules;
    std::string why;
    EXPECT_EQ(sim::loadStateFile(path, modules, why), sim::StateLoad::Loaded) << why;
    return modules.empty() ? sim::PersistedState{} : modules.front();
}

// Files a killed program could have left: temporary state files, journals.
std::vector<std::string> leftovers(const std::string& folder, const std::string& stateName) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || name == stateName || name == stateName + ".lock" ||
            name == "pristine.state" || name.ends_with(".log") || name.ends_with(".json") ||
            name.ends_with(".txt"))
            continue;
        found.push_back(name);
    }
    return found;
}

bool sameState(const sim::PersistedState& a, const sim::PersistedState& b) {
    return a.configImages == b.configImages && a.activeIndex == b.activeIndex;
}

TEST(SaveInterruption, KilledCommandsLeaveTheListBeforeOrTheListMeant) {
    ScratchDir dir;
    const std::string state = dir.path() + "/module.state";
    const std::string pristine = dir.path() + "/pristine.state";
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", state},
                     {"XDG_STATE_HOME", dir.path() + "/xdg"}};
    // Active position 2 of the factory's three, so a removal before it moves it.
    ASSERT_EQ(runQuillon({"activate", "2"}, env).status, 0);
    std::filesystem::copy_file(state, pristine);
    const sim::PersistedState before = readState(pristine);

    const std::vector<KillCase> cases = {
        {"config add", {"config", "add", "Killed", "--section", kSection}, 40},
        {"config rm", {"config", "rm", "Hadamard 900-1700"}, 40},
        {"config import", {"config", "import", "--replace", "backup.json"}, 15},
        {"hadamard learn", {"hadamard", "learn", "--orders", "19,23", "--out", "t.txt"}, 15},
    };
    const std::vector<int> counts = killCounts(cases);
    std::mt19937 random(20261207);
    for (size_t c = 0; c < cases.size(); ++c) {
        const KillCase& kill = cases[c];
        // A run to its end says what the command means and how long it takes.
        std::filesystem::copy_file(pristine, state,
                                   std::filesystem::copy_options::overwrite_existing);
        if (kill.args[1] == "import") {
            ASSERT_EQ(runQuillon({"config", "add", "Imported", "--section", kSection}, env).status,
                      0);
            ASSERT_EQ(runQuillon({"config", "export", "backup.json"}, env).status, 0);
            std::filesystem::copy_file(pristine, state,
                                       std::filesystem::copy_options::overwrite_existing);
        }
        const auto start = std::chrono::steady_clock::now();
        const CliRun whole = runQuillon(kill.args, env);
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
        ASSERT_EQ(whole.status, 0) << kill.name << ": " << whole.err;
        const sim::PersistedState meant = readState(state);

        int kept = 0, finished = 0, repaired = 0;
        std::uniform_int_distribution<long> moment(0, micros);
        for (int run = 0; run < counts[c]; ++run) {
            std::filesystem::copy_file(pristine, state,
                                       std::filesystem::copy_options::overwrite_existing);
            {
                CliChild child(kill.args, env);
                std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
                child.signal(SIGKILL);
                child.wait();
            }
            const CliRun after = runQuillon({"configs"}, env);
            ASSERT_EQ(after.status, 0) << kill.name << " run " << run << ": " << after.err;
            const sim::PersistedState found = readState(state);
            const bool isBefore = sameState(found, before);
            const bool isMeant = sameState(found, meant);
            EXPECT_TRUE(isBefore || isMeant)
                << kill.name << " run " << run << ": " << found.configImages.size()
                << " configurations, active " << int(found.activeIndex) << "\n"
                << after.out << after.err;
            kept += isBefore;
            repaired += after.err.find("undid an interrupted") != std::string::npos ||
                        after.err.find("Restored ") != std::string::npos;
            finished += isMeant && !isBefore;
            EXPECT_EQ(leftovers(dir.path(), "module.state"), std::vector<std::string>{})
                << kill.name << " run " << run;
        }
        std::printf(
            "%s: %d kills, %d left the list before, %d the list meant; the next command "
            "put %d right\n",
            kill.name, counts[c], kept, finished, repaired);
    }
}

}  // namespace
