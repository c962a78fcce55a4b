// Every device command the library sends, times every fault the simulated
// module can show, through each export that sends the command. Each cell runs
// the export once with the fault, checks its documented result, code, text,
// standard output and log, the caller's memory and the module's stored
// configurations, then checks that the same export works again without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "api/discovery.h"
#include "api/errors.h"
#include "config/model.h"
#include "link/command_codes.h"
#include "quillonlib.h"
#include "sim/module_state.h"
#include "support/library_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define GUARD_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define GUARD_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define GUARD_POISON(p, n) ((void)(p), (void)(n))
#define GUARD_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace quillon::test {
namespace {

using link::CommandCode;
using sim::Fault;

struct FaultColumn {
    Fault fault;
    uint32_t value;
    const char* name;
};

// The columns, in the order of the letters in each row below.
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
constexpr int kFaultCount = std::size(kFaults);

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

// One row: an export, the command it sends that the fault hits (the `skip`
// earlier requests of that command pass), and one letter per fault column.
// Common letters: S the success path, exactly as without the fault; A success
// with the values that arrived on the wire (a garbled or misstated number
// cannot be told from a true one); F the export's documented failure. The
// other letters are explained with the check of their export below.
struct Row {
    Op op;
    CommandCode command;
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
    {Op::Remove, link::kEraseScanConfigs, "Remove_Erase", 0, "RRRSSSSRRRRRUUU"},
    {Op::Remove, link::kWriteScanConfig, "Remove_WriteLast", 1, "RRRSSSSRRRRRUUK"},
    {Op::Remove, link::kSetActiveScanIndex, "Remove_SetActive", 0, "SSSSSSSSSSSSKKK"},
    {Op::Scan, link::kPreScanSetting, "Scan_PreScan", 0, "SSSSSSSSSSSSBBB"},
    {Op::Scan, link::kSetAverageCount, "Scan_SetAverage", 0, "SSSSSSSSSSSSBBB"},
    {Op::Scan, link::kSetActiveScanIndex, "Scan_SetActive", 0, "SSSSSSSSSSSSBBB"},
    {Op::Scan, link::kReadEstimatedScanTime, "Scan_ReadEstimate", 0, "SSSSSSSSSSSSBBB"},
    {Op::Scan, link::kStartScan, "Scan_StartScan", 0, "BBBSSSSBBBBBBBD"},
    {Op::Scan, link::kReadDeviceStatus, "Scan_ReadStatus", 0, "DDDSDDDDSSSDDDR"},
    {Op::Scan, link::kReadScanDataSize, "Scan_ReadDataSize", 0, "RRRSRRRRRRSRRRR"},
    {Op::Scan, link::kReadScanDataChunk, "Scan_ReadSecondChunk", 1, "RRRSRRRRGGSRRRR"},
};
constexpr int kRowCount = std::size(kRows);
static_assert(kRowCount * kFaultCount == 390);

// ---- What went over the wire ---------------------------------------------

// The tests' hidapi stand-in with every report kept, so a cell can check what
// the module really answered.
struct WireEvent {
    bool write;
    int result;
    std::array<uint8_t, 64> bytes;
};
std::vector<WireEvent> g_wire;

const link::HidLayer& tap() {
    static const link::HidLayer layer = [] {
        link::HidLayer t = simHid();
        t.write = [](hid_device* device, const unsigned char* report, size_t length) {
            WireEvent event{true, simHid().write(device, report, length), {}};
            std::memcpy(event.bytes.data(), report + 1, std::min<size_t>(64, length - 1));
            g_wire.push_back(event);
            return event.result;
        };
        t.readTimeout = [](hid_device* device, unsigned char* buffer, size_t length,
                           int timeoutMs) {
            WireEvent event{false, simHid().readTimeout(device, buffer, length, timeoutMs), {}};
            if (event.result > 0) std::memcpy(event.bytes.data(), buffer, event.result);
            g_wire.push_back(event);
            return event.result;
        };
        return t;
    }();
    return layer;
}

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

// The reply payload the module sent to the (skip+1)-th request of `command`
// since the tap was cleared: the reports read after that request, up to the
// next write or the first read that brought nothing.
std::vector<uint8_t> arrivedPayload(CommandCode command, int skip) {
    for (size_t i = 0; i < g_wire.size(); ++i) {
        const WireEvent& event = g_wire[i];
        if (!event.write) continue;
        const size_t length = event.bytes[2] | (event.bytes[3] << 8);
        const bool match = event.bytes[4] == command.number && event.bytes[5] == command.group;
        i += (4 + length + 63) / 64 - 1;  // continuation reports carry no header of their own
        if (!match || skip-- > 0) continue;
        std::vector<uint8_t> reply;
        for (size_t j = i + 1; j < g_wire.size() && !g_wire[j].write && g_wire[j].result > 0; ++j)
            reply.insert(reply.end(), g_wire[j].bytes.begin(),
                         g_wire[j].bytes.begin() + g_wire[j].result);
        if (reply.size() < 4) return {};
        const size_t announced = reply[2] | (reply[3] << 8);
        return std::vector<uint8_t>(reply.begin() + 4,
                                    reply.begin() + std::min(reply.size(), 4 + announced));
    }
    return {};
}

// An array of exactly `count` entries followed by guard entries holding the
// canary, poisoned in the sanitizer build: a write past the array is caught.
template <typename T>
class GuardedArray {
  public:
    static constexpr size_t kGuard = 8;
    GuardedArray(size_t count, T canary)
        : data_(count + kGuard, canary), count_(count), canary_(canary) {
        GUARD_POISON(data_.data() + count, kGuard * sizeof(T));
    }
    ~GuardedArray() { GUARD_UNPOISON(data_.data() + count_, kGuard * sizeof(T)); }
    T* data() { return data_.data(); }
    bool guardIntact() {
        GUARD_UNPOISON(data_.data() + count_, kGuard * sizeof(T));
        const bool intact =
            std::all_of(data_.begin() + count_, data_.end(), [&](T v) { return v == canary_; });
        GUARD_POISON(data_.data() + count_, kGuard * sizeof(T));
        return intact;
    }
    size_t canaries() const {
        return static_cast<size_t>(std::count(data_.begin(), data_.begin() + count_, canary_));
    }
    std::vector<T> values() const { return std::vector<T>(data_.begin(), data_.begin() + count_); }

  private:
    std::vector<T> data_;
    size_t count_;
    T canary_;
};

// ---- The cell -------------------------------------------------------------

constexpr double kCanaryNm = -4242.5;
constexpr int kCanaryCounts = 0x5A5A5A5A;
constexpr uint32_t kCanaryWord = 0xDEADBEEF;
constexpr int kHangLimitMs = 5000;

struct Cell {
    int row;
    int fault;
};

void PrintTo(const Cell& cell, std::ostream* out) {
    *out << kRows[cell.row].name << " x " << kFaults[cell.fault].name << " (expects '"
         << kRows[cell.row].letters[cell.fault] << "')";
}

class FaultMatrix : public LoggingLibraryTest, public ::testing::WithParamInterface<Cell> {
  protected:
    void SetUp() override {
        LoggingLibraryTest::SetUp();
        hid_ = &tap();
        factoryImages_ = module().state().configImages;
    }

    const Row& row() const { return kRows[GetParam().row]; }
    char letter() const { return row().letters[GetParam().fault]; }
    std::vector<uint8_t> arrived() const { return arrivedPayload(row().command, row().skip); }

    // Runs the export once with the fault, standard output captured and timed.
    template <typename F>
    auto runFaulted(F&& call) {
        const FaultColumn& column = kFaults[GetParam().fault];
        module().injectFault(column.fault, row().command, 1, column.value, row().skip);
        module().clearLog();
        g_wire.clear();
        testing::internal::CaptureStdout();
        const auto start = std::chrono::steady_clock::now();
        auto result = call();
        const auto waited = std::chrono::steady_clock::now() - start;
        stdout_ = testing::internal::GetCapturedStdout();
        EXPECT_LT(waited, std::chrono::milliseconds(kHangLimitMs)) << "time-outs come at once";
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

// Opening. Letters: S; A (the index that arrived is sent back); F ("device
// return error", nothing read after the index); E (opened, but the module
// went: "cali error" and no configurations); Y (as E with the calibration
// exchange bringing nothing, so no "cali error"); C (the configurations, not
// the calibration); V (the calibration, no configurations); I (all three
// configurations, but the count said more: not complete, so never saved over
// the module); P (the first configuration only); Q (as P, and the active
// index read failed too).
struct OpenOutcome {
    char letter;
    size_t views;
    bool complete;
    bool calibrated;
};
constexpr OpenOutcome kOpenOutcomes[] = {
    {'S', 3, true, true},   {'A', 3, true, true},  {'F', 0, false, false}, {'E', 0, false, false},
    {'Y', 0, false, false}, {'C', 3, true, false}, {'V', 0, false, true},  {'I', 3, false, true},
    {'P', 1, false, true},  {'Q', 1, false, true},
};

void FaultMatrix::openCell() {
    unsigned count = 0;
    ASSERT_EQ(enumerateDevicesOp(session(), &tap(), &count), 0);
    const int result = runFaulted([] { return openSpectrometer(0); });
    const char l = letter();
    OpenOutcome want = *std::find_if(std::begin(kOpenOutcomes), std::end(kOpenOutcomes),
                                     [&](const OpenOutcome& o) { return o.letter == l; });
    SpectrometerSession& s = session();
    const CalibrationCoefficients& moduleCal = module().state().calibration;
    EXPECT_EQ(stdout_, l == 'E' ? "cali error\r\n" : "");
    EXPECT_EQ(result, l == 'F' ? -1 : 0);
    EXPECT_STREQ(getLastException(), l == 'F' ? "device return error" : "no error");
    if (l == 'F') {
        EXPECT_TRUE(logHas("Get active cfg index error"));
        EXPECT_EQ(module().requests().size(), 1u) << "no index sent back, nothing else read";
    }
    if (l == 'A' && row().command.number == link::kReadScanConfigCount.number) {
        const std::vector<uint8_t> sent = arrived();
        ASSERT_FALSE(sent.empty());
        want.views = std::min<size_t>(sent[0], 3);
        want.complete = sent[0] > 0 && sent[0] <= 3;
    }
    EXPECT_EQ(s.scanConfigs.size(), want.views);
    EXPECT_EQ(s.configsComplete, want.complete);
    EXPECT_EQ(getScanSectionNumber(), static_cast<int>(want.views));
    if (want.calibrated) {
        EXPECT_EQ(std::memcmp(&s.calibration, &moduleCal, sizeof moduleCal), 0);
    } else {
        EXPECT_TRUE(std::all_of(s.calibration.pixelToNmCoeffs, s.calibration.pixelToNmCoeffs + 3,
                                [](double v) { return v == 0.0; }))
            << "the calibration is taken only from a sound reply";
    }
    if (l == 'Q') {
        EXPECT_EQ(s.activeScanIndex, -1) << "the active index read failed with -1";
    } else if (l == 'A' && row().command.number == link::kReadActiveScanIndex.number) {
        const std::vector<uint8_t> sent = arrived();
        ASSERT_FALSE(sent.empty());
        const int expected = sent[0] < 3 ? sent[0] : 0;  // the module refuses an index it lacks
        EXPECT_EQ(module().state().activeIndex, expected);
        EXPECT_EQ(s.activeScanIndex, expected);
        EXPECT_EQ(module().requests().at(1).message.at(6), sent[0]) << "the arrived index is sent";
    } else {
        EXPECT_EQ(module().state().activeIndex, 0);
    }

    // Again, without the fault: everything is read.
    module().clearFaults();
    closeSpectrometer();
    module().replug();
    ASSERT_TRUE(openModule());
    EXPECT_EQ(sessionNames(), kFactoryNames);
    EXPECT_TRUE(session().configsComplete);
    EXPECT_EQ(std::memcmp(&session().calibration, &moduleCal, sizeof moduleCal), 0);
}

// getVersions. Letters: S, A, F (-1, the destinations untouched). The last
// failure code is never changed by it.
void FaultMatrix::versionsCell() {
    ASSERT_TRUE(openModule());
    lastErrorCode = kTimedOut;
    uint32_t v[7];
    std::fill(std::begin(v), std::end(v), kCanaryWord);
    const int result =
        runFaulted([&] { return getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]); });
    EXPECT_STREQ(getLastException(), "Operation timed out");
    EXPECT_EQ(stdout_, "");
    EXPECT_EQ(result, letter() == 'F' ? -1 : 0);
    std::vector<uint32_t> expected(module().state().versions, module().state().versions + 7);
    if (letter() == 'F') expected.assign(7, kCanaryWord);
    if (letter() == 'A') {
        const std::vector<uint8_t> sent = arrived();
        ASSERT_EQ(sent.size(), 28u);
        for (int i = 0; i < 7; ++i) expected[i] = le32(sent, 4 * i);
    }
    EXPECT_EQ(std::vector<uint32_t>(v, v + 7), expected);
    reopenIfUnplugged();
    ASSERT_EQ(getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]), 0);
    EXPECT_EQ(std::memcmp(v, module().state().versions, sizeof v), 0);
}

// getEstimatedScanTime and getActiveScanIndex: the value, or the link's code.
// Letters: S, A, and the digit d of the link code -d (0: the first reply read
// failed, nothing arrived).
void FaultMatrix::valueCell() {
    ASSERT_TRUE(openModule());
    const bool estimate = row().op == Op::Estimate;
    const int clean = estimate ? getEstimatedScanTime() : 1;
    ASSERT_GT(clean, 0);
    if (!estimate) module().state().activeIndex = 1;
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
    } else if (l == 'A') {
        const std::vector<uint8_t> sent = arrived();
        ASSERT_GE(sent.size(), estimate ? 4u : 1u);
        const int64_t value = estimate ? le32(sent, 0) : sent[0];
        EXPECT_EQ(delivered, std::min<int64_t>(value, INT_MAX));
    } else {
        EXPECT_EQ(delivered, -(l - '0'));
    }
    reopenIfUnplugged();
    if (!estimate) module().state().activeIndex = 1;
    EXPECT_EQ(estimate ? getEstimatedScanTime() : getActiveScanIndex(&delivered),
              estimate ? clean : 0);
    if (!estimate) {
        EXPECT_EQ(delivered, 1);
    }
}

// setActiveScanIndex(2). Letters: S (0, the module and the session at 2), N (0
// although the module refused: a status value counts as success), F (-1
// "Invalid parameter", nothing changed), E (-1, though the module carried it
// out: its status never arrived), A (the status that arrived decides).
void FaultMatrix::setActiveCell() {
    ASSERT_TRUE(openModule());
    const int result = runFaulted([] { return setActiveScanIndex(2); });
    char l = letter();
    if (l == 'A') {
        const std::vector<uint8_t> sent = arrived();
        ASSERT_EQ(sent.size(), 4u);
        l = static_cast<int32_t>(le32(sent, 0)) >= 0 ? 'S' : 'E';
    }
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

// setLampStatus(1) and setSpectrumAverageTime(5): always 0 and "no error";
// the results of their commands are not looked at. Letters: S (the module
// took the setting), O (it did not).
void FaultMatrix::stateCell() {
    ASSERT_TRUE(openModule());
    const bool lamp = row().op == Op::Lamp;
    ASSERT_FALSE(module().state().lampOn);
    auto call = [&] { return lamp ? setLampStatus(1) : setSpectrumAverageTime(5); };
    auto taken = [&] {
        return lamp ? module().state().lampOn : module().state().averageCount == 5;
    };
    EXPECT_EQ(runFaulted(call), 0);
    EXPECT_STREQ(getLastException(), "no error");
    EXPECT_EQ(stdout_, "");
    EXPECT_EQ(taken(), letter() == 'S');
    if (!lamp && letter() != 'S') {
        EXPECT_EQ(module().state().averageCount, 1);
    }
    EXPECT_TRUE(logHas(lamp ? "Set lamp status success" : "Set spectrum average time success"));
    reopenIfUnplugged();
    EXPECT_EQ(call(), 0);
    EXPECT_TRUE(taken());
}

// Committing "New" or removing "Hadamard 900-1700". Letters: S (0, the module
// holds the new list), R (-1 "device return error": the save failed and the
// module was given back the list it had), U (-1, the module went in the
// middle: it holds the part written before; the next opening reads that),
// K (0: the list was stored before the module went).
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
    if (success) {
        EXPECT_EQ(stored, wanted);
    } else if (l == 'R') {
        EXPECT_EQ(stored, kFactoryNames) << "the list it had, written back";
        EXPECT_EQ(module().state().configImages, factoryImages_);
        EXPECT_FALSE(session().moduleOutOfDate);
    } else {
        // Where the save or its undoing stopped: the start of one of the two lists.
        auto startsOf = [&](const std::vector<std::string>& list) {
            return stored.size() <= list.size() &&
                   std::equal(stored.begin(), stored.end(), list.begin());
        };
        EXPECT_TRUE(startsOf(wanted) || startsOf(kFactoryNames));
        EXPECT_TRUE(session().moduleOutOfDate);
    }
    if (l == 'R' || l == 'U') {
        EXPECT_TRUE(logHas(row().command.number == link::kEraseScanConfigs.number
                               ? "Erase scan cfg in EVM error"
                               : "Save scan cfg in EVM error"));
    }

    // Again, without the fault. After a reopening the session holds what the
    // module told it; a save makes the module hold the session's list.
    reopenIfUnplugged();
    std::vector<std::string> expected = sessionNames();
    if (commit) {
        ASSERT_EQ(saveColumn("New"), 0) << getLastException();
        if (std::find(expected.begin(), expected.end(), "New") == expected.end())
            expected.push_back("New");
    } else {
        ASSERT_FALSE(expected.empty());
        auto gone = std::find(expected.begin(), expected.end(), removed);
        if (gone == expected.end()) gone = expected.end() - 1;
        ASSERT_EQ(removeTgtCfg(std::string(*gone).c_str()), 0) << getLastException();
        expected.erase(gone);
    }
    EXPECT_EQ(sessionNames(), expected);
    EXPECT_EQ(storedNames(), expected);
    EXPECT_FALSE(session().moduleOutOfDate);
}

// getFormattedSpectrum with the Column configuration (228 points) into exactly
// sized arrays. Letters: S (0, the same spectrum as the next clean scan), G
// (0, the same wavelengths; the counts are what the damaged piece said), D
// (the status read failed), R (the data read failed), B (the module did not
// confirm the start). Every failure: -1, "device return error", the arrays
// untouched.
void FaultMatrix::scanCell() {
    ASSERT_TRUE(openModule());
    unsigned length = 0;
    ASSERT_EQ(getFormattedSpectrumLengths(&length), 0);
    ASSERT_EQ(length, 228u);
    GuardedArray<double> nm(length, kCanaryNm);
    GuardedArray<int> counts(length, kCanaryCounts);
    const int result = runFaulted([&] { return getFormattedSpectrum(nm.data(), counts.data()); });
    EXPECT_TRUE(nm.guardIntact());
    EXPECT_TRUE(counts.guardIntact());
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
    if (success) {
        EXPECT_EQ(nm.canaries(), 0u);
    } else {
        EXPECT_EQ(nm.canaries(), length);
        EXPECT_EQ(counts.canaries(), length);
    }
    reopenIfUnplugged();
    GuardedArray<double> nextNm(length, kCanaryNm);
    GuardedArray<int> nextCounts(length, kCanaryCounts);
    ASSERT_EQ(getFormattedSpectrum(nextNm.data(), nextCounts.data()), 0);
    EXPECT_EQ(nextNm.canaries(), 0u);
    EXPECT_TRUE(nextNm.guardIntact());
    EXPECT_TRUE(nextCounts.guardIntact());
    if (success) {
        EXPECT_EQ(nm.values(), nextNm.values());
    }
    if (l == 'S') {
        EXPECT_EQ(counts.values(), nextCounts.values());
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
    // A save rewrites them on purpose; every other export leaves them alone.
    if (row().op != Op::Commit && row().op != Op::Remove) {
        EXPECT_EQ(module().state().configImages, factoryImages_) << "stored configurations intact";
    }
    EXPECT_TRUE(module().protocolErrors().empty()) << module().protocolErrors().front();
}

std::vector<Cell> allCells() {
    std::vector<Cell> cells;
    for (int r = 0; r < kRowCount; ++r) {
        EXPECT_EQ(std::strlen(kRows[r].letters), static_cast<size_t>(kFaultCount)) << r;
        for (int f = 0; f < kFaultCount; ++f) cells.push_back(Cell{r, f});
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
