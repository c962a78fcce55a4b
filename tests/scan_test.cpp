// Measuring through the exports against a simulated module that really
// measures its synthetic spectrum through the configured patterns.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "link/command_codes.h"
#include "quillonlib.h"
#include "sim/synthetic_spectrum.h"
#include "support/library_fixture.h"

namespace quillon::test {
namespace {

struct Spectrum {
    int result = -2;
    std::vector<double> nm;
    std::vector<int> counts;
};

class Scan : public LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ASSERT_TRUE(openModule());
        ASSERT_EQ(setLampStatus(1), 0);
    }

    // Scans into arrays sized by the library, with guard entries behind them.
    Spectrum scan() {
        Spectrum s;
        unsigned length = 0;
        if (getFormattedSpectrumLengths(&length) != 0) return s;
        s.nm.assign(length + kGuard, kCanaryNm);
        s.counts.assign(length + kGuard, kCanaryCounts);
        s.result = getFormattedSpectrum(s.nm.data(), s.counts.data());
        for (unsigned i = length; i < s.nm.size(); ++i) {
            EXPECT_EQ(s.nm[i], kCanaryNm) << "written past the reported length at " << i;
            EXPECT_EQ(s.counts[i], kCanaryCounts) << i;
        }
        s.nm.resize(length);
        s.counts.resize(length);
        return s;
    }
    static bool untouched(const Spectrum& s) {
        for (size_t i = 0; i < s.nm.size(); ++i)
            if (s.nm[i] != kCanaryNm || s.counts[i] != kCanaryCounts) return false;
        return true;
    }
    int activate(const char* name) {
        for (size_t i = 0; i < session().scanConfigs.size(); ++i)
            if (std::string(session().scanConfigs[i].configName) == name)
                return setActiveScanIndex(static_cast<unsigned char>(i));
        return -1;
    }

    static constexpr int kGuard = 16;
    static constexpr double kCanaryNm = -12345.0;
    static constexpr int kCanaryCounts = 0x5A5A5A5A;
    sim::SyntheticOptions options_;
};

TEST_F(Scan, ColumnFollowsTheSyntheticSpectrumAndHadamardAgrees) {
    Spectrum column = scan();
    ASSERT_EQ(column.result, 0);
    EXPECT_STREQ(getLastException(), "no error");
    ASSERT_EQ(column.nm.size(), 228u);
    EXPECT_NEAR(column.nm.front(), 900.0, 2.0);
    EXPECT_NEAR(column.nm.back(), 1700.0, 2.0);
    for (size_t i = 0; i < column.nm.size(); ++i) {
        if (i > 0) {
            EXPECT_GT(column.nm[i], column.nm[i - 1]) << i;
        }
        double expected = sim::expectedPatternCounts(options_, column.nm[i], 6, 0);
        EXPECT_NEAR(column.counts[i], expected, 1.0) << column.nm[i] << " nm";
    }
    // The water band at 1450 nm shows as a dip against its shoulders.
    auto near = [&](double nm) {
        size_t best = 0;
        for (size_t i = 0; i < column.nm.size(); ++i)
            if (std::abs(column.nm[i] - nm) < std::abs(column.nm[best] - nm)) best = i;
        return column.counts[best];
    };
    EXPECT_LT(near(1450), near(1330));
    EXPECT_LT(near(1450), near(1560));

    ASSERT_EQ(activate("Hadamard 900-1700"), 0);
    Spectrum hadamard = scan();
    ASSERT_EQ(hadamard.result, 0);
    ASSERT_EQ(hadamard.nm.size(), column.nm.size());
    for (size_t i = 0; i < column.nm.size(); ++i) {
        EXPECT_EQ(hadamard.nm[i], column.nm[i]) << i;
        EXPECT_NEAR(hadamard.counts[i], column.counts[i], 2.0) << i;
    }
}

TEST_F(Scan, SectionsComeInOrderAndLengthIsTheirSum) {
    setTgtCfg("Three", 0, "Hadamard", 1500, 1700, 4.68, 40, 1.27);
    setTgtCfg("Three", 1, "Column", 900, 1100, 7.03, 30, 0.635);
    setTgtCfg("Three", 2, "Column", 1200, 1300, 2.34, 25, 5.08);
    ASSERT_EQ(setTgtCfgs("Three", 1), 0);
    ASSERT_EQ(activate("Three"), 0);
    Spectrum s = scan();
    ASSERT_EQ(s.result, 0);
    ASSERT_EQ(s.nm.size(), 95u);
    const struct {
        size_t first, count;
        double lo, hi;
        int width, exposure;
    } parts[] = {{0, 40, 1500, 1700, 4, 1}, {40, 30, 900, 1100, 6, 0}, {70, 25, 1200, 1300, 2, 3}};
    for (const auto& p : parts) {
        for (size_t i = p.first; i < p.first + p.count; ++i) {
            EXPECT_GE(s.nm[i], p.lo - 2) << i;
            EXPECT_LE(s.nm[i], p.hi + 2) << i;
            // Decoding a Hadamard group truncates once more than reading a column.
            EXPECT_NEAR(s.counts[i],
                        sim::expectedPatternCounts(options_, s.nm[i], p.width, p.exposure),
                        p.first == 0 ? 2.0 : 1.0)
                << i;
        }
    }
}

TEST_F(Scan, AFewPatternsAreScannedToo) {
    for (unsigned short patterns : {2, 3, 6}) {
        ASSERT_EQ(saveColumn("Few", patterns), 0);
        ASSERT_EQ(activate("Few"), 0);
        Spectrum s = scan();
        EXPECT_EQ(s.result, 0) << patterns;
        EXPECT_EQ(s.nm.size(), patterns);
    }
}

TEST_F(Scan, AScanThatNeverFinishesTimesOut) {
    ASSERT_EQ(saveColumn("Small"), 0);
    ASSERT_EQ(activate("Small"), 0);
    const int estimate = getEstimatedScanTime();
    ASSERT_GT(estimate, 0);
    module().injectFault(sim::Fault::ScanNeverFinishes, link::kStartScan);
    auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();
    Spectrum s = scan();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Scan Failed");
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
    EXPECT_EQ(s.result, -1);
    EXPECT_TRUE(untouched(s));
    // Both clocks count whole milliseconds, so the two readings may differ by one.
    EXPECT_GE(waited, 3 * estimate - 1) << "gives up only after three times the estimate";
    EXPECT_STREQ(getLastException(), "device return error");
}

TEST_F(Scan, ImagesOfAnotherLengthAreRefused) {
    // The module keeps scanning its own active configuration when it refuses
    // the host's: the spectrum would not fit the arrays the host sized.
    ASSERT_EQ(activate("Column + Hadamard"), 0);
    module().injectFault(sim::Fault::WriteStatus, link::kSetActiveScanIndex, 1, 1);
    module().state().activeIndex = 0;  // 228 points instead of 200
    Spectrum s = scan();
    EXPECT_EQ(s.result, -1);
    EXPECT_TRUE(untouched(s));
    EXPECT_STREQ(getLastException(), "device return error");
    EXPECT_EQ(scan().result, 0);
    // An announced image size of 0 leaves nothing to decode; a garbled first
    // piece damages the head (later pieces are fault matrix cells).
    for (auto [fault, command] : {std::pair(sim::Fault::WrongSizeField, link::kReadScanDataSize),
                                  std::pair(sim::Fault::Garbled, link::kReadScanDataChunk)}) {
        module().injectFault(fault, command, 1, 0);
        s = scan();
        EXPECT_EQ(s.result, -1);
        EXPECT_TRUE(untouched(s));
    }

    // Without an active stored configuration nothing is scanned.
    session().activeScanIndex = 7;
    double nm[4] = {1, 2, 3, 4};
    int counts[4] = {5, 6, 7, 8};
    EXPECT_EQ(getFormattedSpectrum(nm, counts), -1);
    EXPECT_EQ(nm[0], 1);
    EXPECT_EQ(counts[3], 8);
    session().activeScanIndex = -4;
    EXPECT_EQ(getFormattedSpectrum(nm, counts), -1);
    EXPECT_EQ(module().scansStarted(), 4u);
}

TEST_F(Scan, AnAbsurdEstimateDoesNotEndTheScanAtOnce) {
    module().injectFault(sim::Fault::WrongSizeField, link::kReadEstimatedScanTime, 1, 0xFFFFFFFFu);
    Spectrum s = scan();
    EXPECT_EQ(s.result, 0) << "a wrapped 32-bit time-out would have given up before polling";
    // The average count the host chose is reset to 1 by every scan.
    EXPECT_EQ(setSpectrumAverageTime(8), 0);
    EXPECT_EQ(module().state().averageCount, 8);
    EXPECT_EQ(scan().result, 0);
    EXPECT_EQ(module().state().averageCount, 1);
}

}  // namespace
}  // namespace quillon::test
