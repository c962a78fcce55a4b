// Thousands of open, edit, scan and close cycles against the simulated module
// with faults injected at random (fixed seed): the library's memory must not
// grow, every result must be one it documents, the module must only ever hold
// configurations that decode, and the log file must consist of well-formed
// records only. Leaks are LeakSanitizer's to find in the sanitizer build,
// which runs fewer cycles. QUILLON_SOAK_CYCLES sets the number of cycles.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "config/model.h"
#include "link/command_codes.h"
#include "quillonlib.h"
#include "sim/module_state.h"
#include "sim/hid_api.h"
#include "support/library_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator, which replaces malloc, counts the live bytes.
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

namespace quillon::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultCycles = 1500;
size_t liveHeapBytes() {
    return __sanitizer_get_current_allocated_bytes();
}
#else
constexpr int kDefaultCycles = 10000;
size_t liveHeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;  // small chunks and mapped large ones
}
#endif
// Cycles before memory is first measured: every lazily built table and cache
// exists by then.
constexpr int kWarmUpCycles = 100;
constexpr size_t kGrowthTolerance = 16 * 1024;

using namespace link;
// clang-format off
const CommandCode kCommands[] = {
    kReadVersions, kReadActiveScanIndex, kSetActiveScanIndex, kReadEstimatedScanTime,
    kLampOffControl, kLampOnControl, kReadCalibrationCoefficients, kReadScanConfigCount,
    kReadScanConfig, kEraseScanConfigs, kWriteScanConfig, kSetAverageCount, kPreScanSetting,
    kStartScan, kReadDeviceStatus, kReadScanDataSize, kReadScanDataChunk};
// clang-format on

// The number of records of a log in which every record is the separator line,
// the tag line and one message line; -1 (and what is wrong) otherwise.
long wellFormedRecords(const std::string& text, std::string& bad) {
    static const std::string separator(70, '-');
    static const std::regex tagLine(
        R"(\[(DEBUG|INFO|ERROR)\] <\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}> \[[A-Za-z]+:\d+\])");
    long records = 0;
    for (size_t at = 0; at < text.size(); ++records) {
        std::string lines[3];
        for (std::string& line : lines) {
            const size_t end = text.find('\n', at);
            if (end == std::string::npos) {
                bad = "cut short after record " + std::to_string(records);
                return -1;
            }
            line.assign(text, at, end - at);
            at = end + 1;
        }
        if (lines[0] != separator || !std::regex_match(lines[1], tagLine) || lines[2].empty() ||
            lines[2] == separator) {
            bad = "record " + std::to_string(records) + ": " + lines[0] + " | " + lines[1] + " | " +
                  lines[2];
            return -1;
        }
    }
    return records;
}

class Soak : public LoggingLibraryTest {
  protected:
    void SetUp() override {
        LoggingLibraryTest::SetUp();
        module().setRecording(false);  // its request log would grow with every cycle
    }

    void maybeInjectFault() {
        if (random_() % 100 >= 35) return;
        // Every fault but a scan that never finishes, which only waits out its time-out.
        const auto fault = static_cast<sim::Fault>(
            random_() % static_cast<unsigned>(sim::Fault::ScanNeverFinishes));
        const link::CommandCode command = kCommands[random_() % std::size(kCommands)];
        const uint32_t value = fault == sim::Fault::Unplug ? random_() % 3 : 0;
        module().injectFault(fault, command, 1, value, static_cast<int>(random_() % 3));
        ++faults_;
    }
    void expectDocumented(int result, const char* what) {
        EXPECT_TRUE(result == 0 || result == -1) << what << " gave " << result;
        EXPECT_STRNE(getLastException(), "unknow") << what;
    }

    void edit(int cycle) {
        const std::string name = "Soak " + std::to_string(cycle % 9);
        int result;
        if (session().scanConfigs.size() > 8 && random_() % 2 == 0) {
            result = removeTgtCfg(sessionNames().back().c_str());
        } else {
            const auto start = static_cast<unsigned short>(900 + random_() % 400);
            const auto end = static_cast<unsigned short>(start + 50 + random_() % 300);
            const char* type = random_() % 2 == 0 ? "Column" : "Hadamard";
            setTgtCfg(name.c_str(), 0, type, start, end, 7.03, 8 + random_() % 30, 0.635);
            result = setTgtCfgs(name.c_str(), 1);
        }
        expectDocumented(result, "saving");
        if (result == 0) {
            ++saves_;
            EXPECT_EQ(storedNames(), sessionNames()) << "a save that succeeded stored the list";
        }
    }

    void scan() {
        if (!session().scanConfigs.empty())
            setActiveScanIndex(
                static_cast<unsigned char>(random_() % session().scanConfigs.size()));
        unsigned length = 0;
        if (getFormattedSpectrumLengths(&length) != 0) return;
        std::vector<double> nm(length + 4, -1.0);
        std::vector<int> counts(length + 4, -7);
        const int result = getFormattedSpectrum(nm.data(), counts.data());
        expectDocumented(result, "scanning");
        EXPECT_EQ(std::vector<double>(nm.begin() + length, nm.end()), std::vector<double>(4, -1.0))
            << "written past the spectrum";
        EXPECT_EQ(std::vector<int>(counts.begin() + length, counts.end()), std::vector<int>(4, -7));
        scans_ += result == 0;
    }

    std::mt19937 random_{20240607u};
    int faults_ = 0, saves_ = 0, scans_ = 0;
};

TEST_F(Soak, OpenEditScanCloseWithRandomFaults) {
    const char* env = std::getenv("QUILLON_SOAK_CYCLES");
    const int cycles =
        env != nullptr && std::atoi(env) > kWarmUpCycles ? std::atoi(env) : kDefaultCycles;
    size_t heapAtWarmUp = 0;
    testing::internal::CaptureStdout();  // the failure messages the library prints
    for (int cycle = 0; cycle < cycles && !HasFailure(); ++cycle) {
        maybeInjectFault();
        unsigned count = 0;
        if (enumerateDevices(&count) == 0 && openSpectrometer(0) == 0) {
            edit(cycle);
            scan();
            unsigned v[7];
            expectDocumented(getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]),
                             "versions");
            EXPECT_EQ(setLampStatus(cycle % 2), 0);
            EXPECT_EQ(setSpectrumAverageTime(static_cast<unsigned short>(1 + cycle % 4)), 0);
            getEstimatedScanTime();
        } else {
            expectDocumented(-1, "opening");
        }
        closeSpectrometer();
        module().clearFaults();
        sim::resetHidCalls();  // the simulator's own log of calls
        if (!module().plugged()) module().replug();
        const auto& images = module().state().configImages;
        EXPECT_LE(images.size(), sim::kMaxStoredConfigs);
        for (const sim::Image& image : images) {
            ScanConfig config{};
            EXPECT_TRUE(sim::decodeStoredConfig(image, config)) << "an undecodable image stored";
        }
        if (cycle + 1 == kWarmUpCycles) heapAtWarmUp = liveHeapBytes();
    }
    const size_t heapAtEnd = liveHeapBytes();
    testing::internal::GetCapturedStdout();

    std::string bad;
    const long records = wellFormedRecords(logText(), bad);
    EXPECT_GE(records, 0) << bad;
    EXPECT_GT(records, cycles) << "every cycle logs";
    std::printf(
        "soak: %d cycles, %d saves and %d scans succeeded, %d faults; live heap %zu -> "
        "%zu bytes; %ld log records\n",
        cycles, saves_, scans_, faults_, heapAtWarmUp, heapAtEnd, records);
    EXPECT_LE(heapAtEnd, heapAtWarmUp + kGrowthTolerance) << "memory grows with the cycles";
    EXPECT_GT(saves_, cycles / 4);
    EXPECT_GT(scans_, cycles / 4);
    EXPECT_GT(faults_, cycles / 5);
}

}  // namespace
}  // namespace quillon::test
