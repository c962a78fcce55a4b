// Stopping quillon scan with Ctrl-C or SIGTERM: the outputs hold whole spectra
// only, the status tells the signal, and a second Ctrl-C does not wait. And
// `quillon setup`, which installs the rule that lets users open the module.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

#include "cli_formats.h"
#include "cli_process.h"
#include "support/scratch_dir.h"

using namespace quillon::test;

namespace {

// Checks that `csv` is a header and whole scans 1..n of equal length; returns n.
size_t wholeScans(const std::string& csv) {
    EXPECT_TRUE(csv.empty() || csv.back() == '\n') << "last row cut";
    const std::vector<std::string> rows = lines(csv);
    EXPECT_FALSE(rows.empty());
    if (rows.empty()) return 0;
    EXPECT_EQ(rows[0], "scan,wavelength_nm,intensity");
    std::map<unsigned, size_t> perScan;
    for (size_t i = 1; i < rows.size(); ++i) {
        unsigned scan = 0;
        double nm = 0, intensity = 0;
        char extra = 0;
        EXPECT_EQ(std::sscanf(rows[i].c_str(), "%u,%lf,%lf%c", &scan, &nm, &intensity, &extra), 3)
            << rows[i];
        ++perScan[scan];
    }
    size_t expected = 1;
    for (const auto& [scan, count] : perScan) {
        EXPECT_EQ(scan, expected++);
        EXPECT_EQ(count, perScan.begin()->second) << "scan " << scan;
    }
    return perScan.size();
}

TEST(CliInterrupt, CtrlCDuringASeriesKeepsTheCompletedSpectraInEveryOutput) {
    ScratchDir dir;
    CliChild scan({"scan", "--count", "0", "--csv", "series.csv", "--json", "--plot", "plot.svg"},
                  {{"QUILLONLIB_SIMULATOR_TIME_SCALE", "0.02"}});
    // Rows are written as each spectrum completes: scan 3 is there while the series runs.
    ASSERT_TRUE(
        eventually([&] { return readFile("series.csv").find("\n3,") != std::string::npos; }));
    scan.signal(SIGINT);
    const CliRun run = scan.wait();
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_NE(run.err.find("interrupted"), std::string::npos) << run.err;
    const size_t scans = wholeScans(readFile("series.csv"));
    EXPECT_GE(scans, 3u);
    Json doc;
    ASSERT_TRUE(parseJson(run.out, doc)) << run.out.substr(0, 200);
    EXPECT_EQ(doc["scans"].size(), scans);
    const std::string svg = readFile("plot.svg");
    EXPECT_TRUE(xmlNests(svg));
    const std::regex polyline("<polyline");
    EXPECT_EQ(static_cast<size_t>(
                  std::distance(std::sregex_iterator(svg.begin(), svg.end(), polyline), {})),
              scans);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_TRUE(entry.path().filename() == "series.csv" ||
                    entry.path().filename() == "plot.svg")
            << "left behind: " << entry.path();
}

// SIGTERM while the series waits for its next scan ends the wait; Ctrl-C
// during a scan of minutes stops the scan itself within a second, with the
// lamp switched off last.
TEST(CliInterrupt, TermEndsTheWaitAndCtrlCStopsALongScanAtOnce) {
    ScratchDir dir;
    CliChild waiting({"scan", "--count", "3", "--interval", "3600", "--csv", "series.csv"});
    ASSERT_TRUE(eventually([&] { return !readFile("series.csv").empty(); }));
    waiting.signal(SIGTERM);
    CliRun run = waiting.wait(std::chrono::seconds(30));
    EXPECT_EQ(run.status, 143) << run.err;
    EXPECT_EQ(wholeScans(readFile("series.csv")), 1u);

    // Module time runs a hundred times slower: the scan would take minutes. The
    // progress bar on the terminal shows that it has begun.
    const std::string trace = dir.path() + "/wire.txt";
    CliChild slow(
        {"scan", "--csv", "slow.csv"},
        {{"QUILLONLIB_SIMULATOR_TIME_SCALE", "100"}, {"QUILLONLIB_SIMULATOR_TRACE", trace}},
        {true, std::nullopt});
    ASSERT_TRUE(eventually([&] { return slow.errSoFar().find("\rscan [") != std::string::npos; }));
    const auto signalled = std::chrono::steady_clock::now();
    slow.signal(SIGINT);
    run = slow.wait(std::chrono::seconds(30));
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(1));
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_FALSE(std::filesystem::exists("slow.csv"));
    // Output reports: "00", flags, sequence, length, then command and group.
    std::string lastLamp;
    for (const std::string& line : lines(readFile(trace)))
        if (line.compare(10, 4, "0501") == 0 || line.compare(10, 4, "2502") == 0) lastLamp = line;
    EXPECT_EQ(lastLamp.substr(10, 8), "05010000") << "the lamp is switched off last";
}

TEST(CliSetup, InstallsTheRuleOnlyWithTheRightToWriteIt) {
    ScratchDir dir;
    const std::string rule = readFile(QUILLON_SOURCE_DIR "/udev/60-quillon.rules");
    // The rule gives the module's hidraw node to plugdev and the person at the seat.
    EXPECT_TRUE(std::regex_search(
        rule, std::regex("SUBSYSTEM==\"hidraw\", ATTRS\\{idVendor\\}==\"0451\", "
                         "ATTRS\\{idProduct\\}==\"4200\", MODE=\"0660\", GROUP=\"plugdev\", "
                         "TAG\\+=\"uaccess\"")))
        << rule;

    std::filesystem::create_directory("image");
    CliRun run = runQuillon({"setup", "--root", "image"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string installed = "image/etc/udev/rules.d/60-quillon.rules";
    EXPECT_EQ(readFile(installed), rule);
    EXPECT_NE(run.out.find("Installed " + installed), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("udev was left alone"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("plug it in again"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("plugdev"), std::string::npos) << run.out;
    run = runQuillon({"setup", "--root", "image/"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("already installed"), std::string::npos) << run.out;

    // Someone who may not write below the root is told to become root.
    std::filesystem::create_directory("locked");
    Launch launch;
    if (geteuid() == 0) {
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        launch.user = 65534;
    } else {
        ASSERT_EQ(chmod("locked", 0555), 0);
    }
    run = CliChild({"setup", "--root", dir.path() + "/locked"}, {}, launch).wait();
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("needs root: run 'sudo quillon setup'"), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::is_empty("locked"));
}

}  // namespace
