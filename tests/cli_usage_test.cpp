// What a user meets before any module is involved: the usage texts, and bad
// command lines refused with status 2 and a reason before the module is touched.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_process.h"
#include "support/scratch_dir.h"

using namespace quillon::test;

namespace {

TEST(CliUsage, UsageAndEveryCommandsHelp) {
    ScratchDir dir;
    auto bare = runQuillon({});
    EXPECT_EQ(bare.status, 2);
    EXPECT_NE(bare.err.find("Usage: quillon"), std::string::npos) << bare.err;
    EXPECT_EQ(bare.out, "");
    auto help = runQuillon({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("0 success, 1 failed"), std::string::npos);
    for (const char* command :
         {"list", "info", "configs", "config", "activate", "lamp", "limits", "scan", "setup"}) {
        EXPECT_NE(help.out.find(std::string("  ") + command), std::string::npos) << command;
        auto run = runQuillon({command, "--help"});
        EXPECT_EQ(run.status, 0) << command << ": " << run.err;
        EXPECT_EQ(run.out.rfind(std::string("Usage: quillon ") + command, 0), 0u) << run.out;
    }
}

// Every refusal names its reason, prints nothing on standard output, and
// happens before the module is opened: with --log, opening would leave the
// library's log file in the working directory.
TEST(CliUsage, BadLinesAreExplainedBeforeTheModuleIsOpened) {
    const std::string hadamard = "type=Hadamard,width=7.03,start=900,end=1700,exposure=0.635,";
    const struct {
        std::vector<std::string> args;
        const char* reason;
    } cases[] = {
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"config", "add", "A", "--section",
          "type=Column,width=7.0,start=900,end=1700,patterns=9,exposure=0.635"},
         "width 7.0 is not a pattern width; nearest: 5.85 (5 px) and 7.03 (6 px)"},
        {{"config", "add", "A", "--section",
          "type=Hadamard,width=7.03,start=1500,end=1400,patterns=9,exposure=0.635"},
         "start wavelength 1500 nm is above the end 1400 nm"},
        {{"config", "add", "A", "--section", hadamard + "patterns=400", "--section",
          hadamard + "patterns=300"},
         "the sections hold 700 patterns together; a configuration has at most 624"},
        {{"scan", "--average", "0"}, "--average needs a count from 1 to 1000, not '0'"},
        {{"scan", "--json", "--csv", "-"}, "--json and --csv - both want standard output"},
        {{"activate", "20"}, "position 20 is beyond the 20 a module stores"},
        {{"limits", "--start", "800", "--end", "1700", "--width", "7.03"},
         "start wavelength 800 nm is outside"},
        {{"--device", "-3", "info"}, "--device needs a module index, not '-3'"},
        {{"--wait", "soon", "info"}, "--wait needs seconds from 0 to 86400, not 'soon'"},
        {{"scan", "--wait=-1"}, "--wait needs seconds from 0 to 86400, not '-1'"},
    };
    for (const auto& bad : cases) {
        ScratchDir dir;
        std::vector<std::string> args = bad.args;
        args.insert(args.begin(), "--log");
        auto run = runQuillon(args, {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/state"}});
        const std::string line = testing::PrintToString(bad.args);
        EXPECT_EQ(run.status, 2) << line << "\n" << run.err;
        EXPECT_NE(run.err.find(bad.reason), std::string::npos) << line << "\n" << run.err;
        EXPECT_EQ(run.out, "") << line;
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()))
            << line << ": the module was opened (log or state file written)";
    }
}

}  // namespace
