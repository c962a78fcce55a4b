// One module, several programs: a module another process holds is waited for
// or reported busy, never shared; a killed holder frees it at once; a user
// without access is told how to get it; Ctrl-C leaves the lamp off.
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <thread>

#include "cli_process.h"
#include "link/command_codes.h"
#include "support/scratch_dir.h"

using namespace quillon::test;

namespace {

const char* const kBusy = "the module is busy (in use by another program)";

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(CliSharing, ConcurrentConfigAddsStoreEveryOneThatSucceeds) {
    ScratchDir dir;
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/module.state"}};
    for (const char* wait : {"0", "30"}) {
        std::vector<std::unique_ptr<CliChild>> adds;
        for (int i = 0; i < 6; ++i) {
            const std::string name = std::string("Wait") + wait + "-" + std::to_string(i);
            adds.push_back(std::make_unique<CliChild>(
                std::vector<std::string>{"--wait", wait, "config", "add", name, "--section",
                                         "type=Column,start=1000,end=1100,width=7.03,patterns=10,"
                                         "exposure=0.635"},
                env));
        }
        std::vector<CliRun> runs;
        for (auto& add : adds) runs.push_back(add->wait());
        const std::string stored = runQuillon({"configs"}, env).out;
        int succeeded = 0;
        for (int i = 0; i < 6; ++i) {
            const std::string name = std::string("Wait") + wait + "-" + std::to_string(i);
            if (runs[i].status == 0) {
                ++succeeded;
                EXPECT_NE(stored.find(name), std::string::npos) << name << " lost\n" << stored;
            } else {
                EXPECT_EQ(runs[i].status, 1) << runs[i].err;
                EXPECT_NE(runs[i].err.find(kBusy), std::string::npos) << runs[i].err;
                EXPECT_EQ(stored.find(name), std::string::npos) << name;
            }
        }
        // Waiting long enough, every one gets its turn.
        if (std::string(wait) != "0") {
            EXPECT_EQ(succeeded, 6);
        }
        EXPECT_GE(succeeded, 1);
    }
}

TEST(CliSharing, InfoDuringASeriesWaitsOrSaysBusyAndAKilledHolderFreesTheModule) {
    ScratchDir dir;
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/module.state"},
                     {"QUILLONLIB_SIMULATOR_TIME_SCALE", "0.02"}};
    CliChild series({"scan", "--count", "6", "--interval", "0.3", "--csv", "series.csv"}, env);
    ASSERT_TRUE(eventually([] { return !readFile("series.csv").empty(); }));
    const CliRun busy = runQuillon({"--wait", "0", "info"}, env);
    EXPECT_EQ(busy.status, 1);
    EXPECT_NE(busy.err.find("cannot open module 0: " + std::string(kBusy)), std::string::npos)
        << busy.err;
    const CliRun waited = runQuillon({"info"}, env);
    EXPECT_EQ(waited.status, 0) << waited.err;
    EXPECT_EQ(count(waited.err, "is in use by another program; waiting"), 1u) << waited.err;
    const CliRun done = series.wait();
    EXPECT_EQ(done.status, 0) << done.err;
    const std::string csv = readFile("series.csv");
    EXPECT_GT(count(csv, "\n6,"), 0u) << "the series lost scans";
    EXPECT_EQ(count(csv, "\n6,"), count(csv, "\n1,"));

    CliChild holder({"scan", "--count", "0", "--csv", "endless.csv"}, env);
    ASSERT_TRUE(eventually([] { return !readFile("endless.csv").empty(); }));
    holder.signal(SIGKILL);
    holder.wait();
    const CliRun after = runQuillon({"--wait", "0", "info"}, env);
    EXPECT_EQ(after.status, 0) << after.err;
}

TEST(CliSharing, RefusedOpenPointsAtSetup) {
    const CliRun run = runQuillon({"info"}, {{"QUILLONLIB_SIMULATOR_DENY_OPEN", "1"}});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot open module 0: Access denied (insufficient permissions)"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("sudo quillon setup"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("60-quillon.rules"), std::string::npos) << run.err;
}

// The last lamp command on the wire, from the simulator's trace of every
// output report: report number, flags, sequence, length (2), command, group, data.
TEST(CliSharing, CtrlCDuringASeriesLeavesTheLampOff) {
    ScratchDir dir;
    CliChild scan({"scan", "--count", "0", "--csv", "series.csv"},
                  {{"QUILLONLIB_SIMULATOR_TIME_SCALE", "0.02"},
                   {"QUILLONLIB_SIMULATOR_TRACE", dir.path() + "/wire"}});
    ASSERT_TRUE(
        eventually([] { return readFile("series.csv").find("\n2,") != std::string::npos; }));
    scan.signal(SIGINT);
    EXPECT_EQ(scan.wait().status, 130);
    std::vector<std::string> lamp;
    char command[8];
    std::snprintf(command, sizeof command, "%02x%02x", quillon::link::kLampOnControl.number,
                  quillon::link::kLampOnControl.group);
    for (const std::string& report : lines(readFile("wire")))
        if (report.size() >= 18 && report.compare(10, 4, command) == 0) lamp.push_back(report);
    ASSERT_GE(lamp.size(), 2u);
    EXPECT_EQ(lamp.front().substr(14, 4), "0101") << "switched on first";
    EXPECT_EQ(lamp.back().substr(14, 4), "0000") << "left on";
}

}  // namespace
