// Thousands of open, edit, scan and close cycles against the simulated module
// with faults injected at random (fixed seed): the library's memory must not
// grow, every result must be one it documents, the module must only ever hold
// configurations that decode, and the log file must consist of well-formed
// records only. Leaks are LeakSanitizer's to find in the sanitizer build,
// which runs fewer cycles.
#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "config/model.h"
#include "link/command_codes.h"
#include "quillonlib.h"
#include "sim/module_state.h"
#include "support/fake_hidapi.h"
#include "support/library_fixture.h"
#include "support/scratch_dir.h"

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

int soakCycles() {
    const char* text = std::getenv("QUILLON_SOAK_CYCLES");
    const int cycles = text != nullptr ? std::atoi(text) : 0;
    return cycles > kWarmUpCycles ? cycles : kDefaultCycles;
}

long residentKb() {
    long pages = 0, resident = 0;
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return -1;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
    std::fclose(f);
    return resident * 4;
}

const link::CommandCode kCommands[] = {
    link::kReadVersions,
    link::kReadActiveScanIndex,
    link::kSetActiveScanIndex,
    link::kReadEstimatedScanTime,
    link::kLampOffControl,
    link::kLampOnControl,
    link::kReadCalibrationCoefficients,
    link::kReadScanConfigCount,
    link::kReadScanConfig,
    link::kEraseScanConfigs,
    link::kWriteScanConfig,
    link::kSetAverageCount,
    link::kPreScanSetting,
    link::kStartScan,
    link::kReadDeviceStatus,
    link::kReadScanDataSize,
    link::kReadScanDataChunk,
};

// Every fault but a scan that never finishes, which only waits out its time-out.
const sim::Fault kFaults[] = {
    sim::Fault::NoReply,          sim::Fault::FailureFlag4,  sim::Fault::FailureFlag5,
    sim::Fault::BothFailureFlags, sim::Fault::ZeroLength,    sim::Fault::OversizedLength,
    sim::Fault::ShortReply,       sim::Fault::TruncatedRead, sim::Fault::Garbled,
    sim::Fault::WrongSizeField,   sim::Fault::WriteStatus,   sim::Fault::LateReply,
    sim::Fault::Unplug,
};

// Checks the whole log: every record is the separator line, the tag line and
// one message line. Returns the number of records, or -1 at the first bad line.
long checkLog(const std::string& text, std::string& bad) {
    static const std::string separator(70, '-');
    static const std::regex tagLine(
        R"(\[(DEBUG|INFO|ERROR)\] <\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}> \[[A-Za-z]+:\d+\])");
    if (text.empty() || text.back() != '\n') {
        bad = "the file does not end with a complete line";
        return -1;
    }
    long records = 0;
    size_t at = 0;
    std::string lines[3];
    while (at < text.size()) {
        for (std::string& line : lines) {
            const size_t end = text.find('\n', at);
            if (end == std::string::npos) {
                bad = "record cut short after record " + std::to_string(records);
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
        ++records;
    }
    return records;
}

class Soak : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        scratch_ = std::make_unique<ScratchDir>();
        // The module's own request log would grow with every cycle.
        module().setRecording(false);
        setLogSwitch(1);
    }
    void TearDown() override {
        LibraryTest::TearDown();
        scratch_.reset();
    }

    void maybeInjectFault() {
        if (random_() % 100 >= 35) return;
        const sim::Fault fault = kFaults[random_() % std::size(kFaults)];
        const link::CommandCode command = kCommands[random_() % std::size(kCommands)];
        const uint32_t value = fault == sim::Fault::Unplug ? random_() % 3 : 0;
        module().injectFault(fault, command, 1, value, static_cast<int>(random_() % 3));
        ++faultsInjected_;
    }

    // Ends the cycle: faults cleared, the module plugged in and closed.
    void endCycle() {
        closeSpectrometer();
        module().clearFaults();
        resetFakeHid();  // the stand-in's own log of calls
        if (!module().plugged()) {
            module().replug();
            ++replugs_;
        }
    }

    void expectDocumented(int result, const char* what) {
        EXPECT_TRUE(result == 0 || result == -1) << what << " gave " << result;
        EXPECT_STRNE(getLastException(), "unknow") << what;
    }

    void edit(int cycle) {
        SpectrometerSession& s = session();
        const std::string name = "Soak " + std::to_string(cycle % 9);
        int result;
        if (s.scanConfigs.size() > 8 && random_() % 2 == 0) {
            result = removeTgtCfg(configNameOf(s.scanConfigs.back()).data());
        } else {
            const unsigned short start = static_cast<unsigned short>(900 + random_() % 400);
            const unsigned short end = static_cast<unsigned short>(start + 50 + random_() % 300);
            const char* type = random_() % 2 == 0 ? "Column" : "Hadamard";
            setTgtCfg(name.c_str(), 0, type, start, end, 7.03, 8 + random_() % 30, 0.635);
            result = setTgtCfgs(name.c_str(), 1);
        }
        expectDocumented(result, "saving");
        if (result == 0) {
            ++saves_;
            EXPECT_EQ(storedNames(), namesOf(s)) << "a save that succeeded stored the list";
        }
    }

    void scan() {
        SpectrometerSession& s = session();
        if (!s.scanConfigs.empty())
            setActiveScanIndex(static_cast<unsigned char>(random_() % s.scanConfigs.size()));
        unsigned length = 0;
        if (getFormattedSpectrumLengths(&length) != 0) return;
        std::vector<double> nm(length + 4, -1.0);
        std::vector<int> counts(length + 4, -7);
        const int result = getFormattedSpectrum(nm.data(), counts.data());
        expectDocumented(result, "scanning");
        for (size_t i = length; i < nm.size(); ++i) {
            EXPECT_EQ(nm[i], -1.0) << "written past the spectrum";
            EXPECT_EQ(counts[i], -7);
        }
        if (result == 0) ++scans_;
    }

    std::vector<std::string> namesOf(const SpectrometerSession& s) {
        std::vector<std::string> names;
        for (const ScanConfig& c : s.scanConfigs) names.emplace_back(configNameOf(c));
        return names;
    }

    void expectModuleHoldsOnlyConfigurations() {
        const auto& images = module().state().configImages;
        EXPECT_LE(images.size(), sim::kMaxStoredConfigs);
        for (const sim::Image& image : images) {
            ScanConfig config{};
            EXPECT_TRUE(sim::decodeStoredConfig(image, config)) << "an undecodable image stored";
        }
    }

    std::unique_ptr<ScratchDir> scratch_;
    std::mt19937 random_{20240607u};
    int faultsInjected_ = 0, replugs_ = 0, saves_ = 0, scans_ = 0, opens_ = 0;
};

TEST_F(Soak, OpenEditScanCloseWithRandomFaults) {
    const int cycles = soakCycles();
    size_t heapAtWarmUp = 0;
    long residentAtWarmUp = 0;
    const auto started = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();  // the failure messages the library prints
    for (int cycle = 0; cycle < cycles && !HasFailure(); ++cycle) {
        maybeInjectFault();
        unsigned count = 0;
        if (enumerateDevices(&count) != 0 || openSpectrometer(0) != 0) {
            expectDocumented(-1, "opening");
            endCycle();
            continue;
        }
        ++opens_;
        edit(cycle);
        scan();
        unsigned v[7];
        const int versions = getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
        EXPECT_TRUE(versions == 0 || versions == -1);
        EXPECT_EQ(setLampStatus(cycle % 2), 0);
        EXPECT_EQ(setSpectrumAverageTime(static_cast<unsigned short>(1 + cycle % 4)), 0);
        getEstimatedScanTime();
        endCycle();
        expectModuleHoldsOnlyConfigurations();
        if (cycle + 1 == kWarmUpCycles) {
            heapAtWarmUp = liveHeapBytes();
            residentAtWarmUp = residentKb();
        }
    }
    const size_t heapAtEnd = liveHeapBytes();
    const long residentAtEnd = residentKb();
    testing::internal::GetCapturedStdout();
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);

    std::string bad;
    const long records = checkLog(readFile(scratch_->only_file()), bad);
    EXPECT_GE(records, 0) << bad;
    EXPECT_GT(records, cycles) << "every cycle logs";

    std::printf(
        "soak: %d cycles in %.1f s (%d opened, %d saves and %d scans succeeded, %d faults, %d "
        "replugs); live heap at cycle %d: %zu bytes, at the end: %zu bytes; resident %ld kB -> "
        "%ld kB; %ld log records well-formed\n",
        cycles, seconds.count(), opens_, saves_, scans_, faultsInjected_, replugs_, kWarmUpCycles,
        heapAtWarmUp, heapAtEnd, residentAtWarmUp, residentAtEnd, records);
    EXPECT_LE(heapAtEnd, heapAtWarmUp + kGrowthTolerance) << "memory grows with the cycles";
    EXPECT_GT(saves_, cycles / 4);
    EXPECT_GT(scans_, cycles / 4);
    EXPECT_GT(faultsInjected_, cycles / 5);
}

}  // namespace
}  // namespace quillon::test
