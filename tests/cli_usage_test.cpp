// What a user meets before any module is involved: the usage texts, and bad
// command lines refused with status 2 and a reason before the module is touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_process.h"
#include "support/scratch_dir.h"

using quillon::test::runQuillon;
using quillon::test::ScratchDir;

namespace {

const char* const kCommands[] = {"list",     "info", "configs", "config",
                                 "activate", "lamp", "limits",  "scan"};

TEST(CliUsage, OverallUsageAndEveryCommandsHelp) {
    ScratchDir dir;
    auto bare = runQuillon({});
    EXPECT_EQ(bare.status, 2);
    EXPECT_NE(bare.err.find("Usage: quillon"), std::string::npos) << bare.err;
    EXPECT_EQ(bare.out, "");

    auto help = runQuillon({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : kCommands)
        EXPECT_NE(help.out.find(std::string("  ") + command), std::string::npos) << command;
    EXPECT_NE(help.out.find("0 success, 1 failed"), std::string::npos);

    for (const char* command : kCommands) {
        auto run = runQuillon({command, "--help"});
        EXPECT_EQ(run.status, 0) << command << ": " << run.err;
        EXPECT_EQ(run.out.rfind(std::string("Usage: quillon ") + command, 0), 0u) << run.out;
        EXPECT_NE(run.out.find("--device N"), std::string::npos) << command;
    }

    auto unknown = runQuillon({"frobnicate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos) << unknown.err;
}

struct BadLine {
    std::vector<std::string> args;
    const char* reason;  // what standard error must say
};

std::string section(const std::string& changes) {
    // A valid section with one key replaced or removed by `changes`.
    std::map<std::string, std::string> keys = {{"type", "Hadamard"}, {"start", "900"},
                                               {"end", "1700"},      {"width", "7.03"},
                                               {"patterns", "120"},  {"exposure", "0.635"}};
    size_t begin = 0;
    while (begin < changes.size()) {
        size_t comma = changes.find(',', begin);
        if (comma == std::string::npos) comma = changes.size();
        const std::string item = changes.substr(begin, comma - begin);
        const size_t eq = item.find('=');
        if (eq == std::string::npos)
            keys.erase(item);
        else
            keys[item.substr(0, eq)] = item.substr(eq + 1);
        begin = comma + 1;
    }
    std::string text;
    for (const auto& [key, value] : keys) text += (text.empty() ? "" : ",") + key + "=" + value;
    return text;
}

// Every refusal names its reason, prints nothing on standard output, and
// happens before the module is opened: with --log, opening would leave the
// library's log file in the working directory.
TEST(CliUsage, BadValuesAreExplainedBeforeTheModuleIsOpened) {
    const std::vector<BadLine> cases = {
        {{"config", "add", "A", "--section", section("type=Sideways")},
         "section 1: unknown scan type 'Sideways'"},
        {{"config", "add", "A", "--section", section("width=7.0")},
         "width 7.0 is not a pattern width; nearest: 5.85 (5 px) and 7.03 (6 px)"},
        {{"config", "add", "A", "--section", section("exposure=0.64")},
         "exposure 0.64 is not an exposure time; valid times: 0.635, 1.27, 2.54, 5.08, 15.24, "
         "30.48, 60.96"},
        {{"config", "add", "A", "--section", section("start=899")},
         "start wavelength 899 nm is outside 900 to 1700 nm"},
        {{"config", "add", "A", "--section", section("end=1701")},
         "end wavelength 1701 nm is outside 900 to 1700 nm"},
        {{"config", "add", "A", "--section", section("start=1500,end=1400")},
         "start wavelength 1500 nm is above the end 1400 nm"},
        {{"config", "add", "A", "--section", section("exposure")}, "missing exposure=..."},
        {{"config", "add", "A", "--section", section("colour=red")}, "unknown key 'colour'"},
        {{"config", "add", "A", "--section", section("patterns=625")},
         "patterns '625' is not a count from 2 to 624"},
        {{"config", "add", "A", "--section", section("patterns=12x")},
         "patterns '12x' is not a count"},
        {{"config", "add", "A", "--section", section("patterns=400"), "--section",
          section("patterns=300")},
         "the sections hold 700 patterns together; a configuration has at most 624"},
        {{"config", "add", "A", "--section", section(""), "--section", section(""), "--section",
          section(""), "--section", section(""), "--section", section(""), "--section",
          section("")},
         "6 sections given; a configuration has at most 5"},
        {{"config", "add", std::string(40, 'n'), "--section", section("")},
         "configuration name is 40 bytes long; the module keeps at most 39"},
        {{"config", "add", "A"}, "at least one --section is needed"},
        {{"config", "add", "A", "--section", section(""), "--repeats", "0"},
         "--repeats needs a count from 1 to 65535"},
        {{"config", "move", "A"}, "unknown action 'move'"},
        {{"scan", "--average", "0"}, "--average needs a count from 1 to 1000, not '0'"},
        {{"scan", "--count", "two"}, "--count needs a count from 1 to 1000000, not 'two'"},
        {{"scan", "--interval", "1"}, "--interval goes with --count"},
        {{"scan", "--count", "2", "--interval", "-1"}, "--interval needs seconds from 0"},
        {{"scan", "--json", "--csv", "-"}, "--json and --csv - both want standard output"},
        {{"scan", "--plot", "/nonexistent-dir/plot.svg"},
         "cannot write '/nonexistent-dir/plot.svg'"},
        {{"scan", "--colour"}, "unknown option '--colour'"},
        {{"scan", "--csv"}, "option '--csv' needs a value"},
        {{"activate", "20"}, "position 20 is beyond the 20 a module stores"},
        {{"activate"}, "give one INDEX or NAME"},
        {{"lamp", "dim"}, "say on or off"},
        {{"limits", "--start", "900", "--end", "1700"}, "needs --start, --end and --width"},
        {{"limits", "--start", "900", "--end", "1700", "--width", "8"},
         "width 8 is not a pattern width; nearest: 7.03 (6 px) and 8.20 (7 px)"},
        {{"limits", "--start", "800", "--end", "1700", "--width", "7.03"},
         "start wavelength 800 nm is outside"},
        {{"limits", "--start", "900", "--end", "1700", "--width", "7.03", "--type", "Diagonal"},
         "unknown scan type 'Diagonal'"},
        {{"info", "--device", "first"}, "--device needs a module index, not 'first'"},
        {{"--device", "-3", "info"}, "--device needs a module index, not '-3'"},
        {{"info", "extra"}, "unexpected 'extra'"},
    };
    for (const BadLine& bad : cases) {
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
