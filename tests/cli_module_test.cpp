// quillon's module commands against the simulated module, with its state kept
// in a file so that what one run stores the next one finds.
#include <gtest/gtest.h>

#include <string>

#include "cli_formats.h"
#include "cli_process.h"
#include "cli_reference.h"
#include "support/scratch_dir.h"

using namespace quillon::test;

namespace {

using Env = std::map<std::string, std::optional<std::string>>;

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
    ASSERT_EQ(configs.status, 0) << configs.err;
    EXPECT_TRUE(contains(configs.out, "\"Two bands\"  91 points")) << configs.out;
    EXPECT_TRUE(
        contains(configs.out, "1: Hadamard 1100-1500 nm  width  7.03   60 patterns  exposure 1.27"))
        << configs.out;
    EXPECT_TRUE(contains(configs.out,
                         "2: Column   1500-1700 nm  width  9.37   31 patterns  exposure 0.635"))
        << configs.out;

    auto activate = runQuillon({"activate", "Two bands"}, env);
    ASSERT_EQ(activate.status, 0) << activate.err;
    EXPECT_TRUE(contains(activate.out, ", \"Two bands\" (91 points)")) << activate.out;

    auto info = runQuillon({"info"}, env);
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(contains(info.out, "\"Two bands\" (91 points)")) << info.out;

    auto scan = runQuillon({"scan", "--json"}, env);
    ASSERT_EQ(scan.status, 0) << scan.err;
    Json doc;
    std::string error;
    ASSERT_TRUE(parseJson(scan.out, doc, error)) << error;
    EXPECT_EQ(doc["configuration"]["name"].text, "Two bands");
    EXPECT_EQ(doc["configuration"]["sections"].items.size(), 2u);
    const std::vector<double> wl = doc["scans"].items.at(0)["wavelength_nm"].numbers();
    ASSERT_EQ(wl.size(), 91u);

    // The library, opened on the same state, scans the same configuration.
    const LibraryView library = viewThroughLibrary(state);
    ASSERT_TRUE(library.ok) << library.error;
    EXPECT_EQ(library.points, 91u);
    EXPECT_EQ(doc["configuration"]["position"].number, library.activeIndex);
    for (size_t i = 0; i < wl.size(); ++i) EXPECT_NEAR(wl[i], library.wavelengths.at(i), 1e-6);
    // Sections in order: the Hadamard band first, then the Column band.
    for (size_t i = 0; i < 60; ++i) EXPECT_LT(wl[i], 1510) << i;
    for (size_t i = 60; i < 91; ++i) EXPECT_GT(wl[i], 1490) << i;

    // Removing the active configuration changes what the active position
    // holds; quillon says so, and the next scan is of what the library has
    // active then, not of the removed configuration.
    auto rm = runQuillon({"config", "rm", "Two bands"}, env);
    ASSERT_EQ(rm.status, 0) << rm.err;
    EXPECT_EQ(rm.out, "Removed \"Two bands\"\n");
    EXPECT_TRUE(contains(rm.err, "no longer holds \"Two bands\"") ||
                contains(rm.err, "holds no configuration now"))
        << rm.err;
    auto again = runQuillon({"configs"}, env);
    EXPECT_FALSE(contains(again.out, "Two bands")) << again.out;
    const LibraryView remaining = viewThroughLibrary(state, false);
    auto after = runQuillon({"scan", "--json"}, env);
    if (!remaining.ok) {
        EXPECT_EQ(after.status, 1);
        EXPECT_TRUE(contains(after.err, "no configuration is active")) << after.err;
    } else {
        ASSERT_EQ(after.status, 0) << after.err;
        ASSERT_TRUE(parseJson(after.out, doc, error)) << error;
        EXPECT_NE(doc["configuration"]["name"].text, "Two bands");
        EXPECT_EQ(doc["scans"].items.at(0)["points"].number, remaining.points);
    }
}

TEST(CliModule, RefusalsLeaveTheModuleAsItWas) {
    ScratchDir dir;
    const std::string state = dir.path() + "/module.state";
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", state}};
    const LibraryView before = viewThroughLibrary(state, false);
    ASSERT_TRUE(before.ok) << before.error;

    auto empty = runQuillon({"activate", "17"}, env);
    EXPECT_EQ(empty.status, 1);
    EXPECT_TRUE(contains(empty.err, "position 17 holds no configuration")) << empty.err;

    auto unknown = runQuillon({"activate", "No such thing"}, env);
    EXPECT_EQ(unknown.status, 1);
    EXPECT_TRUE(contains(unknown.err, "no stored configuration is named \"No such thing\""));

    // Two stored configurations of 228 points: the library offers no way to
    // tell which position holds which, so the name is refused, the positions
    // named, and the active position restored after probing.
    auto ambiguous = runQuillon({"activate", "Hadamard 900-1700"}, env);
    EXPECT_EQ(ambiguous.status, 1);
    EXPECT_TRUE(contains(ambiguous.err,
                         "cannot tell the stored position of \"Hadamard 900-1700\": positions 0 1 "
                         "hold 228 points, as do \"Column 900-1700\", \"Hadamard 900-1700\""))
        << ambiguous.err;
    auto positions = runQuillon({"configs", "--positions"}, env);
    ASSERT_EQ(positions.status, 0) << positions.err;
    EXPECT_TRUE(contains(positions.out,
                         "Stored positions:\n"
                         "   0  228 points  \"Column 900-1700\" or \"Hadamard 900-1700\"\n"
                         "   1  228 points  \"Column 900-1700\" or \"Hadamard 900-1700\"\n"
                         "   2  200 points  \"Column + Hadamard\"\n"))
        << positions.out;

    auto twice =
        runQuillon({"config", "add", "Column + Hadamard", "--section",
                    "type=Column,start=900,end=1000,width=7.03,patterns=10,exposure=0.635"},
                   env);
    EXPECT_EQ(twice.status, 1);
    EXPECT_TRUE(contains(twice.err, "is stored already")) << twice.err;

    // More patterns than the range admits under the module's calibration.
    const int most = maxPatternThroughLibrary(state, 1000, 1100, 6, 0);
    ASSERT_GT(most, 2);
    auto tooMany = runQuillon({"config", "add", "Too many", "--section",
                               "type=Column,start=1000,end=1100,width=7.03,patterns=" +
                                   std::to_string(most + 1) + ",exposure=0.635"},
                              env);
    EXPECT_EQ(tooMany.status, 2);
    EXPECT_TRUE(contains(tooMany.err, "holds at most " + std::to_string(most) + " Column patterns"))
        << tooMany.err;

    auto rm = runQuillon({"config", "rm", "Not stored"}, env);
    EXPECT_EQ(rm.status, 1);

    const LibraryView after = viewThroughLibrary(state, false);
    EXPECT_EQ(after.activeIndex, before.activeIndex);
    EXPECT_EQ(after.points, before.points);
    auto configs = runQuillon({"configs"}, env);
    EXPECT_FALSE(contains(configs.out, "Too many"));
}

TEST(CliModule, ListInfoLampAndLimitsAgreeWithTheLibrary) {
    ScratchDir dir;
    auto list = runQuillon({"list"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "1 module found\n  0  USB 0451:4200\n");

    auto wrong = runQuillon({"--device", "1", "info"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_TRUE(contains(wrong.err, "no module at index 1 (1 found)")) << wrong.err;

    auto none = runQuillon({"list"}, {{"QUILLONLIB_SIMULATOR", std::nullopt}});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(contains(none.err, "quillon: no module found: ")) << none.err;

    const LibraryView library = viewThroughLibrary("", false);
    auto info = runQuillon({"info"});
    ASSERT_EQ(info.status, 0) << info.err;
    char versions[128];
    std::snprintf(
        versions, sizeof versions, "Versions: 0x%08X 0x%08X 0x%08X 0x%08X 0x%08X 0x%08X 0x%08X\n",
        library.versions[0], library.versions[1], library.versions[2], library.versions[3],
        library.versions[4], library.versions[5], library.versions[6]);
    EXPECT_EQ(info.out.rfind(versions, 0), 0u) << info.out;
    EXPECT_TRUE(contains(info.out,
                         "Active configuration: position " + std::to_string(library.activeIndex)));

    EXPECT_EQ(runQuillon({"lamp", "on"}).out, "Lamp on\n");
    EXPECT_EQ(runQuillon({"lamp", "off"}).out, "Lamp off\n");

    auto tables = runQuillon({"limits"});
    ASSERT_EQ(tables.status, 0);
    EXPECT_TRUE(contains(tables.out, "Scan types: Column Hadamard\n"));
    EXPECT_TRUE(contains(tables.out, "  60.89 (52 px)\n"));
    EXPECT_TRUE(contains(tables.out,
                         "Exposure times (exposure=): 0.635 1.27 2.54 5.08 15.24 30.48 60.96\n"));
    EXPECT_TRUE(contains(tables.out, "Patterns per configuration: 2 to 624"));

    auto most = runQuillon({"limits", "--start", "950", "--end", "1650", "--width", "11.71"});
    ASSERT_EQ(most.status, 0) << most.err;
    for (unsigned type : {0u, 1u}) {
        const int expected = maxPatternThroughLibrary("", 950, 1650, 10, type);
        EXPECT_TRUE(
            contains(most.out, std::string("Largest ") + (type ? "Hadamard" : "Column") +
                                   " pattern count for 950-1650 nm at width 11.71 (10 px): " +
                                   std::to_string(expected) + "\n"))
            << most.out;
    }
}

}  // namespace
