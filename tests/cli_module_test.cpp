// quillon's module commands against the simulated module, with its state kept
// in a file so that what one run stores the next one finds.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include "cli_formats.h"
#include "cli_process.h"
#include "cli_reference.h"
#include "sim/module_state.h"
#include "sim/state_file.h"
#include "support/scratch_dir.h"

using namespace quillon::test;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The median intensity of a `quillon scan --csv -` run.
double medianIntensity(const CliRun& run) {
    std::vector<double> values;
    for (const std::string& row : lines(run.out)) {
        double nm = 0, value = 0;
        if (std::sscanf(row.c_str(), "%lf,%lf", &nm, &value) == 2) values.push_back(value);
    }
    if (values.empty()) return -1;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// The lamp stays as one run left it, as a module's does, and a state file of
// the earlier layout (without the lamp) is still read.
TEST(CliModule, TheLampOutlivesTheProcessThatSwitchedIt) {
    ScratchDir dir;
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/module.state"}};
    const double dark = medianIntensity(runQuillon({"scan", "--lamp", "keep", "--csv", "-"}, env));
    ASSERT_EQ(runQuillon({"lamp", "on"}, env).status, 0);
    const double lit = medianIntensity(runQuillon({"scan", "--lamp", "keep", "--csv", "-"}, env));
    EXPECT_GT(lit, 20 * std::max(dark, 1.0));
    ASSERT_EQ(runQuillon({"lamp", "off"}, env).status, 0);
    EXPECT_EQ(medianIntensity(runQuillon({"scan", "--lamp", "keep", "--csv", "-"}, env)), dark);

    // Version 1: magic, version, active index 0, no configuration.
    std::string old = std::string("QSIMSTAT") + std::string("\x01\0\0\0\0\0", 6);
    uint32_t hash = 2166136261u;
    for (unsigned char c : old) hash = (hash ^ c) * 16777619u;
    for (int i = 0; i < 4; ++i) old.push_back(static_cast<char>(hash >> (8 * i)));
    std::ofstream(dir.path() + "/module.state", std::ios::binary) << old;
    const CliRun configs = runQuillon({"configs"}, env);
    EXPECT_TRUE(configs.err.find("refused") == std::string::npos) << configs.err;
    EXPECT_FALSE(contains(configs.out, "Column 900-1700")) << configs.out;  // not the factory's
}

TEST(CliModule, ConfigurationAddedInOneRunIsScannedInTheNext) {
    ScratchDir dir;
    const std::string state = dir.path() + "/module.state";
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", state}};

    auto add = runQuillon(
        {"config", "add", "Two bands", "--section",
         "type=hadamard,start=1100,end=1500,width=7.03,patterns=60,exposure=1.27", "--section",
         "type=Column,start=1500,end=1700,width=9.37,patterns=31,exposure=0.635", "--repeats", "2"},
        env);
    ASSERT_EQ(add.status, 0) << add.err;
    EXPECT_EQ(add.out, "Stored \"Two bands\": 2 sections, 91 points, 2 repeats\n");
    auto configs = runQuillon({"configs"}, env);
    for (const char* line : {"\"Two bands\"  91 points",
                             "1: Hadamard 1100-1500 nm  width  7.03   60 patterns  exposure 1.27",
                             "2: Column   1500-1700 nm  width  9.37   31 patterns  exposure 0.635"})
        EXPECT_TRUE(contains(configs.out, line)) << configs.out;
    auto activate = runQuillon({"activate", "Two bands"}, env);
    ASSERT_EQ(activate.status, 0) << activate.err;
    EXPECT_TRUE(contains(activate.out, ", \"Two bands\" (91 points)")) << activate.out;
    EXPECT_TRUE(contains(runQuillon({"info"}, env).out, "\"Two bands\" (91 points)"));

    auto scan = runQuillon({"scan", "--json"}, env);
    ASSERT_EQ(scan.status, 0) << scan.err;
    Json doc;
    ASSERT_TRUE(parseJson(scan.out, doc));
    EXPECT_EQ(doc["configuration"]["name"], "Two bands");
    EXPECT_EQ(doc["configuration"]["sections"].size(), 2u);
    const std::vector<double> wl = doc["scans"][0]["wavelength_nm"].get<std::vector<double>>();
    // The library, opened on the same state, scans the same configuration:
    // the Hadamard band first, then the Column band.
    const LibraryView library = viewThroughLibrary(state);
    ASSERT_TRUE(library.ok) << library.error;
    ASSERT_EQ(wl.size(), 91u);
    EXPECT_EQ(library.points, 91u);
    EXPECT_EQ(doc["configuration"]["position"].get<double>(), library.activeIndex);
    for (size_t i = 0; i < wl.size(); ++i) {
        EXPECT_NEAR(wl[i], library.wavelengths.at(i), 1e-6);
        EXPECT_TRUE(i < 60 ? wl[i] < 1510 : wl[i] > 1490) << i;
    }

    // Removing the active configuration: quillon says the active position
    // changed, and the next scan is of what the library has active then.
    auto rm = runQuillon({"config", "rm", "Two bands"}, env);
    ASSERT_EQ(rm.status, 0) << rm.err;
    EXPECT_EQ(rm.out, "Removed \"Two bands\"\n");
    EXPECT_TRUE(contains(rm.err,
                         "the active configuration \"Two bands\" was removed; position 0 "
                         "is active now"))
        << rm.err;
    EXPECT_FALSE(contains(runQuillon({"configs"}, env).out, "Two bands"));
    const LibraryView remaining = viewThroughLibrary(state, false);
    auto after = runQuillon({"scan", "--json"}, env);
    if (!remaining.ok) {
        EXPECT_EQ(after.status, 1);
        EXPECT_TRUE(contains(after.err, "no configuration is active")) << after.err;
    } else {
        ASSERT_EQ(after.status, 0) << after.err;
        ASSERT_TRUE(parseJson(after.out, doc = Json{}));
        EXPECT_NE(doc["configuration"]["name"], "Two bands");
        EXPECT_EQ(doc["scans"][0]["points"].get<double>(), remaining.points);
    }
}

TEST(CliModule, RefusalsLeaveTheModuleAsItWas) {
    ScratchDir dir;
    const std::string state = dir.path() + "/module.state";
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", state}};
    const Limits limits{1000, 1100, 6};
    const LibraryView before = viewThroughLibrary(state, false, &limits);
    ASSERT_TRUE(before.ok) << before.error;
    const int most = before.maxPattern[0];
    ASSERT_GT(most, 2);

    const struct {
        std::vector<std::string> args;
        int status;
        std::string reason;
    } cases[] = {
        {{"activate", "17"}, 1, "position 17 holds no configuration"},
        {{"activate", "No such thing"}, 1, "no stored configuration is named \"No such thing\""},
        {{"config", "add", "Column + Hadamard", "--section",
          "type=Column,start=900,end=1000,width=7.03,patterns=10,exposure=0.635"},
         1,
         "is stored already"},
        // More patterns than the range admits under the module's calibration.
        {{"config", "add", "Too many", "--section",
          "type=Column,start=1000,end=1100,width=7.03,patterns=" + std::to_string(most + 1) +
              ",exposure=0.635"},
         2,
         "holds at most " + std::to_string(most) + " Column patterns"},
        {{"config", "rm", "Not stored"}, 1, ""},
    };
    for (const auto& c : cases) {
        auto run = runQuillon(c.args, env);
        EXPECT_EQ(run.status, c.status) << c.args[1];
        EXPECT_TRUE(contains(run.err, c.reason)) << run.err;
    }
    const LibraryView after = viewThroughLibrary(state, false);
    EXPECT_EQ(after.activeIndex, before.activeIndex);
    EXPECT_EQ(after.points, before.points);
    EXPECT_FALSE(contains(runQuillon({"configs"}, env).out, "Too many"));
}

TEST(CliModule, ListInfoLampAndLimitsAgreeWithTheLibrary) {
    ScratchDir dir;
    EXPECT_TRUE(std::regex_match(runQuillon({"list"}).out,
                                 std::regex("1 module found\n  0  QSIM0001  sim:[0-9]+:0\n")));
    EXPECT_EQ(runQuillon({"--device", "QSIM0001", "lamp", "on"}).status, 0);
    EXPECT_TRUE(contains(runQuillon({"--device", "QSIM0009", "info"}).err,
                         "no module with serial number QSIM0009 (1 found)"));
    auto wrong = runQuillon({"--device", "1", "info"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_TRUE(contains(wrong.err, "no module at index 1 (1 found)")) << wrong.err;
    auto none = runQuillon({"list"}, {{"QUILLONLIB_SIMULATOR", std::nullopt}});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(contains(none.err, "quillon: no module found: ")) << none.err;

    const Limits limits{950, 1650, 10};
    const LibraryView library = viewThroughLibrary("", false, &limits);
    auto info = runQuillon({"info"});
    char versions[128];
    const auto& v = library.versions;
    std::snprintf(versions, sizeof versions,
                  "Versions: 0x%08X 0x%08X 0x%08X 0x%08X 0x%08X 0x%08X 0x%08X\n", v[0], v[1], v[2],
                  v[3], v[4], v[5], v[6]);
    EXPECT_EQ(info.out.rfind(versions, 0), 0u) << info.out;
    EXPECT_TRUE(contains(info.out,
                         "Active configuration: position " + std::to_string(library.activeIndex)));
    EXPECT_EQ(runQuillon({"lamp", "on"}).out, "Lamp on\n");
    EXPECT_EQ(runQuillon({"lamp", "off"}).out, "Lamp off\n");

    auto tables = runQuillon({"limits"});
    for (const char* line : {"Scan types: Column Hadamard\n", "  60.89 (52 px)\n",
                             "Exposure times (exposure=): 0.635 1.27 2.54 5.08 15.24 30.48 60.96\n",
                             "Patterns per configuration: 2 to 624"})
        EXPECT_TRUE(contains(tables.out, line)) << line;
    auto most = runQuillon({"limits", "--start", "950", "--end", "1650", "--width", "11.71"});
    ASSERT_EQ(most.status, 0) << most.err;
    for (unsigned type : {0u, 1u}) {
        EXPECT_TRUE(contains(most.out, std::string("Largest ") + (type ? "Hadamard" : "Column") +
                                           " pattern count for 950-1650 nm at width 11.71 (10 "
                                           "px): " +
                                           std::to_string(library.maxPattern[type]) + "\n"))
            << most.out;
    }
}

// Names and positions from the library itself: the factory's two 228-point
// configurations are activated by name, a name two positions share is
// refused with both positions, and reading never touches the state file.
TEST(CliModule, ConfigurationsByPositionAndReadingLeavesTheModuleAlone) {
    ScratchDir dir;
    const std::string state = dir.path() + "/module.state";
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", state}};
    for (const char* name : {"Hadamard 900-1700", "Column 900-1700"}) {
        auto run = runQuillon({"activate", name}, env);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(contains(run.out, std::string(", \"") + name + "\" (228 points)")) << run.out;
    }
    auto positions = runQuillon({"configs", "--positions"}, env);
    EXPECT_TRUE(contains(positions.out,
                         "Stored positions:\n"
                         "   0  228 points  \"Column 900-1700\"\n"
                         "   1  228 points  \"Hadamard 900-1700\"\n"
                         "   2  200 points  \"Column + Hadamard\"\n"))
        << positions.out;

    // The active position holding nothing, and a name stored twice.
    const quillon::sim::ModuleState factory = quillon::sim::factoryState();
    ASSERT_TRUE(quillon::sim::saveModuleState(
        state, 0,
        {9, {factory.configImages[0], factory.configImages[1], factory.configImages[0]}}));
    const std::string before = readFile(state);
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"configs", "--positions"}, {"configs"}, {"info"}}) {
        auto run = runQuillon(words, env);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(readFile(state), before) << words[0];
    }
    EXPECT_TRUE(contains(runQuillon({"info"}, env).out,
                         "Active configuration: position 9, which holds no configuration"));
    auto shared = runQuillon({"activate", "Column 900-1700"}, env);
    EXPECT_EQ(shared.status, 1);
    EXPECT_TRUE(contains(shared.err, "positions 0 2 are all named \"Column 900-1700\""))
        << shared.err;
    EXPECT_EQ(readFile(state), before);
}

}  // namespace
