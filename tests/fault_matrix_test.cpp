// Every device command the library sends, times every fault the simulated
// module can show, through an export that sends the command. Each cell runs
// the export once with the fault, checks its documented result, text,
// standard output, log and the caller's memory, that the module's stored
// configurations are intact (or restored), then that the export works again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "core/errors.h"
#include "link/command_codes.h"
#include "quillonlib.h"
#include "sim/module_state.h"
#include "support/library_fixture.h"

namespace quillon::test {
namespace {

using sim::Fault;

struct FaultColumn {
    Fault fault;
    uint32_t value;
    const char* name;
};
constexpr FaultColumn kFaults[] = {
    {Fault::NoReply, 0, "TimeOut"},           {Fault::FailureFlag4, 0, "FailureFlag4"},
    {Fault::FailureFlag5, 0, "FailureFlag5"}, {Fault::BothFailureFlags, 0, "BothFlags"},
    {Fault::ZeroLength, 0, "LengthZero"},     {Fault::OversizedLength, 600, "Oversized"},
    {Fault::ShortReply, 100, "ShortReply"},   {Fault::TruncatedRead, 2, "TruncatedRead"},
    {Fault::Garbled, 0, "Garbled"},           {Fault::WrongSizeField, 4000, "WrongSizeField"},
    {Fault::WriteStatus, 1, "WriteStatus"},   {Fault::LateReply, 0, "LateReply"},
    {Fault::Unplug, 0, "UnplugOnRequest"},    {Fault::Unplug, 1, "UnplugAfterRequest"},
    {Fault::Unplug, 2, "UnplugMidReply"},
};
constexpr size_t kFaultCount = std::size(kFaults);

enum class Op {
    Open,
    Versions,
    Estimate,
    GetActive,
    SetActive,
    Lamp,
    Average,
    Commit,
    Remove,
    Scan
};

// One row: an export, the command the fault hits (after `skip` clean requests
// of it), one letter per fault column. S: success as without the fault; A:
// success with whatever value arrived (a garbled number cannot be told from a
// true one); F: the export's documented failure. Other letters at their check.
struct Row {
    Op op;
    link::CommandCode command;
    const char* name;
    int skip;
    const char* letters;
};
const Row kRows[] = {
    //                                                    T45BZOSRGWXLUUU
    {Op::Open, link::kReadActiveScanIndex, "Open_ReadActiveIndex", 0, "FFFSFFFFAASFFFE"},
    {Op::Open, link::kSetActiveScanIndex, "Open_SetActiveIndex", 0, "SSSSSSSSSSSSEEE"},
    {Op::Open, link::kReadCalibrationCoefficients, "Open_ReadCalibration", 0, "CCCSCCCCCCSCEYE"},
    {Op::Open, link::kReadScanConfigCount, "Open_ReadConfigCount", 0, "VVVSVVVVAISVVVV"},
    {Op::Open, link::kReadScanConfig, "Open_ReadSecondConfig", 1, "PPPSPPPPPPSPQQQ"},
    {Op::Versions, link::kReadVersions, "GetVersions", 0, "FFFSFFFFAASFFFS"},
    {Op::Estimate, link::kReadEstimatedScanTime, "GetEstimatedScanTime", 0, "423S2242AAS410S"},
    {Op::GetActive, link::kReadActiveScanIndex, "GetActiveIndex", 0, "423S2242AAS410S"},
    {Op::SetActive, link::kSetActiveScanIndex, "SetActiveIndex", 0, "FEESSSSEASNEFFS"},
    {Op::Lamp, link::kLampOffControl, "SetLamp_LampOff", 0, "SSSSSSSSSSSSOOO"},
    {Op::Lamp, link::kLampOnControl, "SetLamp_LampOn", 0, "OSSSSSSSSSOSOOS"},
    {Op::Average, link::kSetAverageCount, "SetAverageTime", 0, "OSSSSSSSSSOSOOS"},
    {Op::Commit, link::kEraseScanConfigs, "Commit_Erase", 0, "RRRSSSSRRRRRUUU"},
    {Op::Commit, link::kWriteScanConfig, "Commit_WriteSecond", 1, "RRRSSSSRRRRRUUU"},
    {Op::Commit, link::kSetActiveScanIndex, "Commit_SetActive", 0, "SSSSSSSSSSSSKKK"},
    {Op::Remove, link::kWriteScanConfig, "Remove_WriteLast", 1, "RRRSSSSRRRRRUUK"},
    {Op::Scan, link::kPreScanSetting, "Scan_PreScan", 0, "SSSSSSSSSSSSBBB"},
    {Op::Scan, link::kReadEstimatedScanTime, "Scan_ReadEstimate", 0, "SSSSSSSSSSSSBBB"},
    {Op::Scan, link::kStartScan, "Scan_StartScan", 0, "BBBSSSSBBBBBBBD"},
    {Op::Scan, link::kReadDeviceStatus, "Scan_ReadStatus", 0, "DDDSDDDDSSSDDDR"},
    {Op::Scan, link::kReadScanDataSize, "Scan_ReadDataSize", 0, "RRRSRRRRRRSRRRR"},
    {Op::Scan, link::kReadScanDataChunk, "Scan_ReadSecondChunk", 1, "RRRSRRRRGGSRRRR"},
};

struct Cell {
    size_t row, fault;
};
void PrintTo(const Cell& c, std::ostream* out) {
    *out << kRows[c.row].name << " x " << kFaults[c.fault].name;
}

class FaultMatrix : public LoggingLibraryTest, public ::testing::WithParamInterface<Cell> {
  protected:
    void SetUp() override {
        LoggingLibraryTest::SetUp();
        factoryImages_ = module().state().configImages;
    }
    const Row& row() const { return kRows[GetParam().row]; }
    char letter() const { return row().letters[GetParam().fault]; }

    // Runs the export once with the fault, standard output captured.
    template <typename F>
    int runFaulted(F&& call) {
        const FaultColumn& column = kFaults[GetParam().fault];
        module().injectFault(column.fault, row().command, 1, column.value, row().skip);
        module().clearLog();
        testing::internal::CaptureStdout();
        const auto start = std::chrono::steady_clock::now();
        const int result = call();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5))
            << "time-outs come at once";
        stdout_ = testing::internal::GetCapturedStdout();
        return result;
    }
    bool logHas(const std::string& message) {
        return logText().find("\n" + message + "\n") != std::string::npos;
    }
    // Faults cleared; a module the fault unplugged is plugged in and opened again.
    void reopenIfUnplugged() {
        module().clearFaults();
        if (module().plugged()) return;
        closeSpectrometer();
        module().replug();
        ASSERT_TRUE(openModule());
    }

  public:
    void openCell();
    void versionsCell();
    void valueCell();
    void setActiveCell();
    void stateCell();
    void saveCell();
    void scanCell();

  protected:
    std::vector<sim::Image> factoryImages_;
    std::string stdout_;
};

// Opening. F: "device return error", nothing read after the index. E: opened,
// the module went ("cali error", no configurations); Y: as E, the calibration
// brought nothing so no "cali error"; C: configurations, no calibration; V:
// calibration, no configurations; I: all three, but the count said more (not
// complete, never saved over the module); P: the first configuration only; Q:
// as P, and the active index read failed too.
void FaultMatrix::openCell() {
    unsigned count = 0;
    ASSERT_EQ(enumerateDevices(&count), 0);
    const int result = runFaulted([] { return openSpectrometer(0); });
    const char l = letter();
    const std::string outcomes = "SAFEYCVIPQ";
    const size_t kViews[] = {3, 3, 0, 0, 0, 3, 0, 3, 1, 1};
    const bool kComplete[] = {1, 1, 0, 0, 0, 1, 0, 0, 0, 0};
    const bool kCalibrated[] = {1, 1, 0, 0, 0, 0, 1, 1, 1, 1};
    const size_t o = outcomes.find(l);
    size_t views = kViews[o];
    bool complete = kComplete[o];
    Module& s = session();
    const CalibrationCoefficients& moduleCal = module().state().calibration;
    EXPECT_EQ(stdout_, l == 'E' ? "cali error\r\n" : "");
    EXPECT_EQ(result, l == 'F' ? -1 : 0);
    EXPECT_STREQ(getLastException(), l == 'F' ? "device return error" : "no error");
    if (l == 'F') {
        EXPECT_TRUE(logHas("Get active cfg index error"));
        EXPECT_EQ(module().requests().size(), 1u) << "no index sent back, nothing else read";
    }
    if (l == 'A' && row().command.number == link::kReadScanConfigCount.number) {
        const size_t reads = requestsOf(link::kReadScanConfig);  // one per configuration counted
        views = std::min<size_t>(reads, 3);
        complete = reads > 0 && reads <= 3;
    }
    EXPECT_EQ(s.scanConfigs.size(), views);
    EXPECT_EQ(s.configsComplete, complete);
    EXPECT_EQ(getScanSectionNumber(), static_cast<int>(views));
    const CalibrationCoefficients zero{};
    EXPECT_EQ(std::memcmp(&s.calibration, kCalibrated[o] ? &moduleCal : &zero, sizeof zero), 0)
        << "the calibration is taken only from a sound reply";
    if (l == 'Q') {
        EXPECT_EQ(s.activeScanIndex, -1) << "the active index read failed";
    } else if (l == 'A' && row().command.number == link::kReadActiveScanIndex.number) {
        const int sent = module().requests().at(1).message.at(6);  // the arrived index, sent back
        EXPECT_EQ(s.activeScanIndex, sent < 3 ? sent : 0);
        EXPECT_EQ(module().state().activeIndex, sent < 3 ? sent : 0);
    } else {
        EXPECT_EQ(module().state().activeIndex, 0);
    }
    module().clearFaults();
    closeSpectrometer();
    module().replug();
    ASSERT_TRUE(openModule());
    EXPECT_EQ(sessionNames(), kFactoryNames);
    EXPECT_TRUE(session().configsComplete);
    EXPECT_EQ(std::memcmp(&session().calibration, &moduleCal, sizeof moduleCal), 0);
}

// getVersions: S, A, F (-1, the destinations untouched); the last code stays.
void FaultMatrix::versionsCell() {
    ASSERT_TRUE(openModule());
    lastErrorCode = kTimedOut;
    uint32_t v[7];
    std::fill(std::begin(v), std::end(v), 0xDEADBEEF);
    const int result =
        runFaulted([&] { return getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]); });
    EXPECT_STREQ(getLastException(), "Operation timed out");
    EXPECT_EQ(stdout_, "");
    EXPECT_EQ(result, letter() == 'F' ? -1 : 0);
    const uint32_t* stored = module().state().versions;
    if (letter() == 'F') {
        EXPECT_EQ(std::vector<uint32_t>(v, v + 7), std::vector<uint32_t>(7, 0xDEADBEEF));
    } else if (letter() == 'S') {
        EXPECT_EQ(std::memcmp(v, stored, sizeof v), 0);
    }
    reopenIfUnplugged();
    ASSERT_EQ(getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]), 0);
    EXPECT_EQ(std::memcmp(v, stored, sizeof v), 0);
}

// getEstimatedScanTime and getActiveScanIndex: S, A, or the digit d of the
// link code -d that is delivered (0: the first reply read failed).
void FaultMatrix::valueCell() {
    ASSERT_TRUE(openModule());
    const bool estimate = row().op == Op::Estimate;
    const int clean = estimate ? getEstimatedScanTime() : 1;
    ASSERT_GT(clean, 0);
    module().state().activeIndex = 1;
    lastErrorCode = kTimedOut;
    int delivered = -99;
    const int result = runFaulted([&] {
        return estimate ? (delivered = getEstimatedScanTime()) : getActiveScanIndex(&delivered);
    });
    EXPECT_EQ(stdout_, "");
    if (!estimate) {
        EXPECT_EQ(result, 0) << "always 0";
    }
    EXPECT_STREQ(getLastException(), estimate ? "Operation timed out" : "no error");
    const char l = letter();
    if (l == 'S') {
        EXPECT_EQ(delivered, clean);
    }
    if (l == 'A') {
        EXPECT_GE(delivered, 0) << "a value that arrived never reads as a link code";
    }
    if (l != 'S' && l != 'A') {
        EXPECT_EQ(delivered, -(l - '0'));
    }
    reopenIfUnplugged();
    module().state().activeIndex = 1;
    EXPECT_EQ(estimate ? getEstimatedScanTime() : getActiveScanIndex(&delivered),
              estimate ? clean : 0);
    if (!estimate) {
        EXPECT_EQ(delivered, 1);
    }
}

// setActiveScanIndex(2). S: 0, module and session at 2; N: 0 though the module
// refused (any status counts); F: -1 "Invalid parameter", nothing changed; E:
// -1 though the module carried it out; A: the status that arrived decides.
void FaultMatrix::setActiveCell() {
    ASSERT_TRUE(openModule());
    const int result = runFaulted([] { return setActiveScanIndex(2); });
    char l = letter();
    if (l == 'A') l = result == 0 ? 'S' : 'E';
    const bool success = l == 'S' || l == 'N';
    EXPECT_EQ(result, success ? 0 : -1);
    EXPECT_STREQ(getLastException(), success ? "no error" : "Invalid parameter");
    EXPECT_TRUE(logHas(success ? "Set active scan index success" : "Set active scan index fail"));
    EXPECT_EQ(session().activeScanIndex, success ? 2 : 0);
    EXPECT_EQ(module().state().activeIndex, (l == 'S' || l == 'E') ? 2 : 0);
    reopenIfUnplugged();
    ASSERT_EQ(setActiveScanIndex(2), 0);
    EXPECT_EQ(module().state().activeIndex, 2);
}

// setLampStatus(1) and setSpectrumAverageTime(5): always 0 and "no error",
// their commands' results are not looked at. S: the module took the setting;
// O: it did not.
void FaultMatrix::stateCell() {
    ASSERT_TRUE(openModule());
    const bool lamp = row().op == Op::Lamp;
    auto call = [&] { return lamp ? setLampStatus(1) : setSpectrumAverageTime(5); };
    auto taken = [&] {
        return lamp ? module().state().lampOn : module().state().averageCount == 5;
    };
    EXPECT_EQ(runFaulted(call), 0);
    EXPECT_STREQ(getLastException(), "no error");
    EXPECT_EQ(stdout_, "");
    EXPECT_EQ(taken(), letter() == 'S');
    EXPECT_TRUE(logHas(lamp ? "Set lamp status success" : "Set spectrum average time success"));
    reopenIfUnplugged();
    EXPECT_EQ(call(), 0);
    EXPECT_TRUE(taken());
}

// Committing "New" or removing "Hadamard 900-1700". S: 0, the module holds the
// new list; R: -1 "device return error", the module given back its list; U:
// -1, the module went midway and holds the start of one list; K: 0, the list
// was stored before the module went.
void FaultMatrix::saveCell() {
    ASSERT_TRUE(openModule());
    const bool commit = row().op == Op::Commit;
    const char* removed = "Hadamard 900-1700";
    std::vector<std::string> wanted = kFactoryNames;
    if (commit) {
        ASSERT_EQ(setTgtCfg("New", 0, "Column", 1000, 1100, 7.03, 10, 0.635), 0);
        wanted.push_back("New");
    } else {
        wanted.erase(wanted.begin() + 1);
    }
    const int result =
        runFaulted([&] { return commit ? setTgtCfgs("New", 1) : removeTgtCfg(removed); });
    EXPECT_EQ(stdout_, "");
    const char l = letter();
    const bool success = l == 'S' || l == 'K';
    EXPECT_EQ(result, success ? 0 : -1);
    EXPECT_STREQ(getLastException(), success ? "no error" : "device return error");
    EXPECT_EQ(sessionNames(), success ? wanted : kFactoryNames);
    const std::vector<std::string> stored = storedNames();
    auto startsOf = [&](const std::vector<std::string>& list) {
        return stored.size() <= list.size() &&
               std::equal(stored.begin(), stored.end(), list.begin());
    };
    if (success) {
        EXPECT_EQ(stored, wanted);
    }
    if (l == 'R') {
        EXPECT_EQ(module().state().configImages, factoryImages_) << "written back";
    }
    if (l == 'U') {
        EXPECT_TRUE(startsOf(wanted) || startsOf(kFactoryNames));
    }
    if (l == 'R' || l == 'U') {
        EXPECT_EQ(session().moduleOutOfDate, l == 'U');
        EXPECT_TRUE(logHas(row().command.number == link::kEraseScanConfigs.number
                               ? "Erase scan cfg in EVM error"
                               : "Save scan cfg in EVM error"));
    }
    // Again without the fault: the module ends up holding the session's list.
    reopenIfUnplugged();
    std::vector<std::string> expected = sessionNames();
    if (commit) {
        ASSERT_EQ(saveColumn("New"), 0) << getLastException();
        if (std::find(expected.begin(), expected.end(), "New") == expected.end())
            expected.push_back("New");
    } else {
        auto gone = std::find(expected.begin(), expected.end(), removed);
        if (gone == expected.end()) gone = expected.end() - 1;
        ASSERT_EQ(removeTgtCfg(std::string(*gone).c_str()), 0) << getLastException();
        expected.erase(gone);
    }
    EXPECT_EQ(sessionNames(), expected);
    EXPECT_EQ(storedNames(), expected);
    EXPECT_FALSE(session().moduleOutOfDate);
}

// getFormattedSpectrum with the 228-point Column configuration. S: 0, the
// spectrum of the next clean scan; G: 0, same wavelengths, counts as the
// damaged piece said; D: status read failed; R: data read failed; B: start
// not confirmed. Failures: -1 "device return error", arrays untouched.
void FaultMatrix::scanCell() {
    ASSERT_TRUE(openModule());
    constexpr size_t kLength = 228, kGuard = 8;
    unsigned length = 0;
    ASSERT_EQ(getFormattedSpectrumLengths(&length), 0);
    ASSERT_EQ(length, kLength);
    std::vector<double> nm(kLength + kGuard, -4242.5), nextNm = nm;
    std::vector<int> counts(kLength + kGuard, 0x5A5A5A5A), nextCounts = counts;
    const int result = runFaulted([&] { return getFormattedSpectrum(nm.data(), counts.data()); });
    const char l = letter();
    const bool success = l == 'S' || l == 'G';
    EXPECT_EQ(result, success ? 0 : -1);
    EXPECT_STREQ(getLastException(), success ? "no error" : "device return error");
    const std::string status = "Reading device status for scan completion failed";
    EXPECT_EQ(stdout_, success ? "" : (l == 'D' ? status + "\n" : "") + "Scan Failed");
    EXPECT_TRUE(logHas(success    ? "Scan success"
                       : l == 'D' ? status
                       : l == 'R' ? "Scan data read from device failed"
                                  : "Starting the scan failed"));
    EXPECT_EQ(std::count(nm.begin(), nm.end(), -4242.5), success ? kGuard : kLength + kGuard);
    if (!success) {
        EXPECT_EQ(std::count(counts.begin(), counts.end(), 0x5A5A5A5A), kLength + kGuard);
    }
    reopenIfUnplugged();
    ASSERT_EQ(getFormattedSpectrum(nextNm.data(), nextCounts.data()), 0);
    EXPECT_EQ(std::count(nextNm.begin(), nextNm.end(), -4242.5), kGuard);
    if (success) {
        EXPECT_EQ(nm, nextNm);
    }
    if (l == 'S') {
        EXPECT_EQ(counts, nextCounts);
    }
    if (l != 'S') {
        EXPECT_EQ(std::count(counts.end() - kGuard, counts.end(), 0x5A5A5A5A), kGuard);
    }
}

TEST_P(FaultMatrix, Cell) {
    using Check = void (FaultMatrix::*)();
    static const Check kChecks[] = {
        &FaultMatrix::openCell,  &FaultMatrix::versionsCell,  &FaultMatrix::valueCell,
        &FaultMatrix::valueCell, &FaultMatrix::setActiveCell, &FaultMatrix::stateCell,
        &FaultMatrix::stateCell, &FaultMatrix::saveCell,      &FaultMatrix::saveCell,
        &FaultMatrix::scanCell,
    };
    (this->*kChecks[static_cast<int>(row().op)])();
    if (row().op != Op::Commit && row().op != Op::Remove) {
        EXPECT_EQ(module().state().configImages, factoryImages_) << "stored configurations intact";
    }
    EXPECT_TRUE(module().protocolErrors().empty()) << module().protocolErrors().front();
}

std::vector<Cell> allCells() {
    std::vector<Cell> cells;
    for (size_t r = 0; r < std::size(kRows); ++r) {
        EXPECT_EQ(std::strlen(kRows[r].letters), kFaultCount) << r;
        for (size_t f = 0; f < kFaultCount; ++f) cells.push_back(Cell{r, f});
    }
    return cells;
}

INSTANTIATE_TEST_SUITE_P(AllCommandsAllFaults, FaultMatrix, ::testing::ValuesIn(allCells()),
                         [](const ::testing::TestParamInfo<Cell>& info) {
                             return std::string(kRows[info.param.row].name) + "__" +
                                    kFaults[info.param.fault].name;
                         });

}  // namespace
}  // namespace quillon::test
