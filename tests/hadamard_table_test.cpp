// The Hadamard table file: what the parser refuses, and what a scan decodes
// with when the file is named, refused or right for the module.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli_process.h"
#include "sim/module_variations.h"
#include "spectrum/hadamard_permutations.h"
#include "spectrum/hadamard_table_file.h"
#include "support/scratch_dir.h"

namespace quillon {
namespace {

using test::Env;
using test::runQuillon;

std::string line(int order, const std::vector<int>& columns) {
    std::string text = std::to_string(order) + ":";
    for (int c : columns) text += " " + std::to_string(c);
    return text + "\n";
}

std::vector<int> builtIn(int order) {
    for (const HadamardPermutation& perm : kHadamardPermutations) {
        if (perm.order == order) return std::vector<int>(perm.columns, perm.columns + order);
    }
    return {};
}

std::string tableText(const HadamardColumns& columns) {
    std::string text = "# written by the test\n";
    for (int p = 0; p <= kMaxHadamardOrder; ++p) {
        const auto& list = columns[static_cast<size_t>(p)];
        if (!list.empty()) text += line(p, std::vector<int>(list.begin(), list.end()));
    }
    return text;
}

TEST(HadamardTable, TextIsTakenWholeOrNotAtAll) {
    std::vector<int> swapped = builtIn(23);
    std::swap(swapped[0], swapped[5]);
    HadamardColumns out;
    int orders = -1;
    HadamardTableProblem problem;
    const std::string good = "# module 7\n\n" + line(23, swapped) +
                             "  19 :" + line(0, builtIn(19)).substr(2) +
                             "\r\n43: " + line(0, builtIn(43)).substr(3) + "   # trailing note\n";
    ASSERT_EQ(parseHadamardTable(good, out, orders, problem), 0) << problem.reason;
    EXPECT_EQ(orders, 3);
    EXPECT_EQ(std::vector<int>(out[23].begin(), out[23].end()), swapped);
    EXPECT_EQ(std::vector<int>(out[19].begin(), out[19].end()), builtIn(19));
    EXPECT_TRUE(out[31].empty());  // not named: the built-in list stays

    std::vector<int> outside = builtIn(19);
    outside[4] = 19;
    std::vector<int> repeated = builtIn(19);
    repeated[4] = repeated[7];
    std::vector<int> identity(19);
    for (int i = 0; i < 19; ++i) identity[static_cast<size_t>(i)] = i;
    std::string randomBytes(3000, '\0');
    std::mt19937 random(11);
    for (char& c : randomBytes) c = static_cast<char>(random() & 0xFF);
    const std::vector<int> order17(17, 0);
    const struct {
        std::string text;
        int line;
        const char* reason;
    } refused[] = {
        {line(19, outside), 1, "column 19 is outside 0..18"},
        {"# ok so far\n" + line(19, repeated), 2, "appears twice: not a permutation"},
        {line(17, order17), 1, "order 17 has no S-matrix"},
        {line(263, {}), 1, "order 263 has no S-matrix"},
        {line(23, swapped) + "19: 9 7 18 5 11 2\n", 2, "cut short: 6 of 19 columns"},
        {line(19, builtIn(19)) + line(19, builtIn(19)), 2, "order 19 is named twice"},
        {line(23, swapped).substr(0, 10) + "x 1 2\n", 1, "not a whole number"},
        {line(19, identity), 1, "turns of one another"},
        {"", 0, "names no order"},
        {"# only a comment\n\n", 0, "names no order"},
        {randomBytes, 1, ""},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.text.substr(0, 60));
        out[23] = {1, 2, 3};
        orders = -1;
        EXPECT_EQ(parseHadamardTable(c.text, out, orders, problem), -1);
        EXPECT_EQ(problem.line, c.line);
        EXPECT_NE(problem.reason.find(c.reason), std::string::npos) << problem.reason;
        EXPECT_EQ(orders, 0);
        for (const auto& list : out) EXPECT_TRUE(list.empty());
    }
    EXPECT_EQ(readHadamardTableFile("/nonexistent/table.txt", out, orders, problem), -1);
    EXPECT_EQ(problem.reason, "no such file");
    // A FIFO is refused without waiting for a writer, as is a folder.
    test::ScratchDir dir;
    ASSERT_EQ(mkfifo("table.fifo", 0600), 0);
    for (const char* path : {"table.fifo", "."}) {
        EXPECT_EQ(readHadamardTableFile(path, out, orders, problem), -1);
        EXPECT_EQ(problem.reason, "not a regular file");
    }
}

// Intensities of one scan of a configuration holding the same patterns as a
// Hadamard and as a Column section: the largest difference between the two.
double hadamardAgainstColumn(const Env& env) {
    const std::string section = "start=900,end=1700,width=7.03,patterns=200,exposure=5.08";
    auto add = runQuillon({"config", "add", "Twins", "--section", "type=hadamard," + section,
                           "--section", "type=column," + section},
                          env);
    EXPECT_EQ(add.status, 0) << add.err;
    EXPECT_EQ(runQuillon({"activate", "3"}, env).status, 0);
    auto scan = runQuillon({"--log", "scan", "--csv", "-"}, env);
    EXPECT_EQ(scan.status, 0) << scan.err;
    std::vector<double> values;
    std::istringstream in(scan.out);
    std::string row;
    std::getline(in, row);
    while (std::getline(in, row))
        values.push_back(std::atof(row.substr(row.find(',') + 1).c_str()));
    EXPECT_EQ(values.size(), 400u);
    if (values.size() != 400u) return 1e9;
    double worst = 0.0;
    for (size_t k = 0; k < 200; ++k) worst = std::max(worst, std::abs(values[k] - values[k + 200]));
    return worst;
}

TEST(HadamardTable, ScanDecodesWithTheNamedFileOrTheBuiltInTable) {
    const HadamardColumns seeded = sim::seededHadamardColumns(5);
    {
        // A module with other permutations, no table: the orders' values land
        // on the wrong patterns.
        test::ScratchDir dir;
        const Env env = {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/state"},
                         {"QUILLONLIB_SIMULATOR_HADAMARD_SEED", "5"},
                         {"QUILLONLIB_SIMULATOR_NOISE", "3"}};
        EXPECT_GT(hadamardAgainstColumn(env), 500.0);
    }
    {
        // The module's permutations in the file: decoded as Column reads them.
        test::ScratchDir dir;
        std::ofstream(dir.path() + "/table.txt") << tableText(seeded);
        const Env env = {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/state"},
                         {"QUILLONLIB_SIMULATOR_HADAMARD_SEED", "5"},
                         {"QUILLONLIB_SIMULATOR_NOISE", "3"},
                         {"QUILLONLIB_HADAMARD_TABLE", dir.path() + "/table.txt"}};
        EXPECT_LT(hadamardAgainstColumn(env), 12.0);
    }
    {
        // A refused file on a default module: logged, and the built-in table
        // decodes as before.
        test::ScratchDir dir;
        HadamardColumns broken = seeded;
        broken[31].resize(30);
        std::ofstream(dir.path() + "/table.txt") << tableText(broken);
        const Env env = {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/state"},
                         {"QUILLONLIB_HADAMARD_TABLE", dir.path() + "/table.txt"}};
        EXPECT_LE(hadamardAgainstColumn(env), 1.0);
        for (const char* name : {"/state", "/state.lock", "/table.txt"})
            std::remove((dir.path() + name).c_str());
        const std::string log = test::readFile(dir.only_file());
        EXPECT_NE(log.find("table.txt, line 4 refused: cut short: 30 of 31 columns; decoding with "
                           "the built-in table"),
                  std::string::npos)
            << log;
    }
}

// The whole procedure on simulated modules with other permutations and with
// detector noise: learn, then decode with the learned file.
TEST(HadamardTable, LearnedTableDecodesTheModulesScans) {
    const std::string learned =
        "20 orders learned: 19 23 31 43 47 59 67 71 79 83 103 107 127 131 "
        "139 151 163 167 179 191\n";
    const std::string impossible =
        "6 orders not possible with this module's calibration: 199 211 223 227 239 251\n";
    for (const char* seed : {"3", "8", "21"}) {
        SCOPED_TRACE(seed);
        test::ScratchDir dir;
        const std::string state = dir.path() + "/state", table = dir.path() + "/t.txt";
        Env env = {{"QUILLONLIB_SIMULATOR_STATE", state},
                   {"QUILLONLIB_SIMULATOR_HADAMARD_SEED", seed},
                   {"QUILLONLIB_SIMULATOR_NOISE", "3"}};
        auto learn = runQuillon({"hadamard", "learn", "--out", table}, env);
        EXPECT_EQ(learn.status, 0) << learn.err;
        EXPECT_NE(learn.out.find(learned), std::string::npos) << learn.out;
        EXPECT_NE(learn.out.find(impossible + "  199: a group of 199 patterns needs 793 columns at "
                                              "the narrowest patterns; 900 to 1700 nm span 777"),
                  std::string::npos)
            << learn.out;
        EXPECT_NE(learn.out.find("  251: a group of 251 patterns needs 1001 columns"),
                  std::string::npos);
        EXPECT_NE(learn.out.find("\nWrote " + table), std::string::npos);

        auto before = runQuillon({"hadamard", "check"}, env);
        EXPECT_EQ(before.status, 1);
        EXPECT_NE(before.out.find("\n0 orders agree: \n"), std::string::npos) << before.out;
        env["QUILLONLIB_HADAMARD_TABLE"] = table;
        auto after = runQuillon({"hadamard", "check"}, env);
        EXPECT_EQ(after.status, 0) << after.out;
        EXPECT_NE(after.out.find("\n20 orders agree: 19 23 31"), std::string::npos) << after.out;
        EXPECT_LT(hadamardAgainstColumn(env), 12.0);
    }
}

// Refusals come before the module is touched: a wrong command line, a module
// with no room for the temporary configuration, or one that holds a
// configuration of the temporary one's name.
TEST(HadamardTable, LearningRefusesWithoutChangingTheModule) {
    test::ScratchDir dir;
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/state"}};
    const struct {
        std::vector<std::string> args;
        const char* reason;
    } usage[] = {
        {{"hadamard", "learn"}, "learn needs --out FILE"},
        {{"hadamard", "check", "--out", "t.txt"}, "--out belongs to learn"},
        {{"hadamard", "learn", "--out", "t.txt", "--orders", "19,17"},
         "'17' is not an order from 19 to 251"},
        {{"hadamard", "check", "--scans", "1"}, "--scans needs a count from 2 to 50, not '1'"},
    };
    for (const auto& c : usage) {
        auto run = runQuillon(c.args, env);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    }
    const std::string section =
        "type=column,start=900,end=1700,width=7.03,patterns=100,exposure=0.635";
    ASSERT_EQ(
        runQuillon({"config", "add", "quillon hadamard probe", "--section", section}, env).status,
        0);
    const std::string before = test::readFile(dir.path() + "/state");
    auto taken = runQuillon({"hadamard", "check", "--orders", "19"}, env);
    EXPECT_EQ(taken.status, 1);
    EXPECT_NE(taken.err.find("stores a configuration named \"quillon hadamard probe\" already"),
              std::string::npos)
        << taken.err;
    EXPECT_EQ(test::readFile(dir.path() + "/state"), before);
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(runQuillon({"config", "add", "C" + std::to_string(i), "--section", section}, env)
                      .status,
                  0);
    ASSERT_EQ(runQuillon({"config", "rm", "quillon hadamard probe"}, env).status, 0);
    ASSERT_EQ(runQuillon({"config", "add", "last", "--section", section}, env).status, 0);
    const std::string full = test::readFile(dir.path() + "/state");
    auto noRoom = runQuillon({"hadamard", "learn", "--out", "t.txt"}, env);
    EXPECT_EQ(noRoom.status, 1);
    EXPECT_NE(noRoom.err.find("the module stores 20 configurations"), std::string::npos)
        << noRoom.err;
    EXPECT_EQ(test::readFile(dir.path() + "/state"), full);
}

// Runs `quillon hadamard learn` and sends `signal` once its standard output
// holds `lines` lines; the exit status.
int learnInterrupted(const std::string& dir, int lines, int signal) {
    test::CliChild child({"hadamard", "learn", "--out", dir + "/t.txt", "--orders", "19,23,31"},
                         {{"QUILLONLIB_SIMULATOR_TIME_SCALE", "0.05"},
                          {"QUILLONLIB_SIMULATOR_STATE", dir + "/state"},
                          {"QUILLONLIB_SIMULATOR_HADAMARD_SEED", "4"},
                          {"QUILLONLIB_SIMULATOR_NOISE", "3"}});
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (test::lines(child.outSoFar()).size() < static_cast<size_t>(lines) &&
           std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    child.signal(signal);
    return child.wait().status;
}

// Stopped while storing, scanning or between orders, learning leaves the
// module's stored configurations and active position byte for byte as it
// found them, and writes no table.
TEST(HadamardTable, InterruptedLearningLeavesTheModuleAsItWas) {
    for (const auto& [lines, signal] :
         std::vector<std::pair<int, int>>{{1, SIGINT}, {2, SIGTERM}, {3, SIGINT}, {5, SIGINT}}) {
        SCOPED_TRACE(lines);
        test::ScratchDir dir;
        const Env env = {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/state"}};
        ASSERT_EQ(runQuillon({"activate", "2"}, env).status, 0);
        const std::string before = test::readFile(dir.path() + "/state");
        EXPECT_EQ(learnInterrupted(dir.path(), lines, signal), 128 + signal);
        EXPECT_EQ(test::readFile(dir.path() + "/state"), before);
        EXPECT_FALSE(std::ifstream(dir.path() + "/t.txt").good());
    }
}

}  // namespace
}  // namespace quillon
