// `quillon config rm` says what became of the active configuration in every
// arrangement: the removed one before, at or after it, with point counts that
// name one configuration or several.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_process.h"
#include "support/scratch_dir.h"

using namespace quillon::test;

namespace {

const char* const kTenPoints =
    "type=Column,start=1000,end=1100,width=7.03,patterns=10,exposure=0.635";

struct Arrangement {
    std::vector<std::string> added;  // after the factory's three
    const char* active;
    const char* removed;
    std::string note;  // "" for none
};

TEST(CliConfigRm, NotesWhatTheActivePositionHoldsInEveryArrangement) {
    ScratchDir dir;
    const std::string state = dir.path() + "/module.state";
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", state}};
    // The factory's first two have 228 points each; "D" and "E" have 10.
    const std::string kZero =
        " was removed; position 0 is active now, holding \"Column 900-1700\" or \"Hadamard "
        "900-1700\" (228 points each; `quillon configs --positions` tells which)";
    const std::string kRemoved = "note: the active configuration";
    const Arrangement arrangements[] = {
        {{"D"}, "2", "Hadamard 900-1700", ""},
        {{"D"}, "2", "Column + Hadamard", kRemoved + " \"Column + Hadamard\"" + kZero},
        {{"D"}, "2", "D", ""},
        {{"D"}, "3", "D", kRemoved + " \"D\"" + kZero},
        {{"D", "E"},
         "0",
         "Hadamard 900-1700",
         "note: the active position 0 holds \"Column 900-1700\" now"},
        {{"D", "E"}, "3", "D", kRemoved + kZero},
        {{"D", "E"}, "4", "Hadamard 900-1700", ""},
        {{"D", "E"}, "3", "E", ""},
    };
    for (const Arrangement& a : arrangements) {
        std::filesystem::remove(state);
        for (const std::string& name : a.added)
            ASSERT_EQ(runQuillon({"config", "add", name, "--section", kTenPoints}, env).status, 0);
        ASSERT_EQ(runQuillon({"activate", a.active}, env).status, 0);
        const CliRun rm = runQuillon({"config", "rm", a.removed}, env);
        const std::string context = std::string("active ") + a.active + ", removed " + a.removed +
                                    " of " + std::to_string(3 + a.added.size());
        EXPECT_EQ(rm.status, 0) << context << rm.err;
        EXPECT_EQ(rm.out, std::string("Removed \"") + a.removed + "\"\n") << context;
        if (a.note.empty())
            EXPECT_EQ(rm.err.find("note:"), std::string::npos) << context << rm.err;
        else
            EXPECT_NE(rm.err.find(a.note), std::string::npos) << context << "\n" << rm.err;
    }
}

}  // namespace
