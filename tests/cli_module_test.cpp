// quillon's module commands against the simulated module, with its state kept
// in a file so that what one run stores the next one finds.
#include <gtest/gtest.h>

#include "cli_formats.h"
#include "cli_process.h"
#include "cli_reference.h"
#include "support/scratch_dir.h"

using namespace quillon::test;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
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
        // Two stored configurations of 228 points: the library offers no way
        // to tell which position holds which, so the name is refused.
        {{"activate", "Hadamard 900-1700"},
         1,
         "cannot tell the stored position of \"Hadamard 900-1700\": positions 0 1 hold 228 "
         "points, as do \"Column 900-1700\", \"Hadamard 900-1700\""},
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
    auto positions = runQuillon({"configs", "--positions"}, env);
    EXPECT_TRUE(contains(positions.out,
                         "Stored positions:\n"
                         "   0  228 points  \"Column 900-1700\" or \"Hadamard 900-1700\"\n"
                         "   1  228 points  \"Column 900-1700\" or \"Hadamard 900-1700\"\n"
                         "   2  200 points  \"Column + Hadamard\"\n"))
        << positions.out;
    const LibraryView after = viewThroughLibrary(state, false);
    EXPECT_EQ(after.activeIndex, before.activeIndex);  // restored after probing
    EXPECT_EQ(after.points, before.points);
    EXPECT_FALSE(contains(runQuillon({"configs"}, env).out, "Too many"));
}

TEST(CliModule, ListInfoLampAndLimitsAgreeWithTheLibrary) {
    ScratchDir dir;
    EXPECT_EQ(runQuillon({"list"}).out, "1 module found\n  0  USB 0451:4200\n");
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

}  // namespace
