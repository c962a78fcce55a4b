// Decode round trips: per-pattern values measured the way a module measures
// them (Column readings, Hadamard group sums, darks interleaved), laid into a
// record or image, and decoded back exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "serial/records.h"
#include "sim/measurement.h"
#include "spectrum/geometry.h"
#include "spectrum/interpret.h"

namespace quillon {
namespace {

// Wavelength falls as the column grows: 1700 nm near column 55, 900 nm near 847.
const CalibrationCoefficients kCal = {{1.5, 0.01, -0.00002}, {1760.0, -1.1, 0.0001}};

// Unrelated whole counts per pattern, each in the middle of its count so that
// both the module's and the decoder's truncation land on it.
double scrambled(const PatternBand& band) {
    const unsigned h = static_cast<unsigned>(band.index) * 7919u +
                       static_cast<unsigned>(band.section) * 104729u + band.position * 31u;
    return 150 + (h * 2654435761u >> 7) % 60000 + 0.5;
}

ScanSection sectionOf(int type, int width, int startNm, int endNm, int patterns, int exposure = 0) {
    return ScanSection{static_cast<uint8_t>(type),      static_cast<uint8_t>(width),
                       static_cast<uint16_t>(startNm),  static_cast<uint16_t>(endNm),
                       static_cast<uint16_t>(patterns), static_cast<uint16_t>(exposure)};
}

ScanConfig singleConfig(const ScanSection& s) {
    ScanConfig config{};
    config.scanType = s.sectionScanType;
    config.configIndex = 2;
    std::strcpy(config.configName, "single");
    config.single.wavelengthStartNm = s.wavelengthStartNm;
    config.single.wavelengthEndNm = s.wavelengthEndNm;
    config.single.widthPixels = s.widthPixels;
    config.single.numPatterns = s.numPatterns;
    config.single.numRepeats = 3;
    return config;
}

ScanConfig sectionedConfig(std::initializer_list<ScanSection> sections) {
    ScanConfig config{};
    config.scanType = kSectionedScanType;
    std::strcpy(config.configName, "sectioned");
    config.sectioned.numRepeats = 5;
    for (const ScanSection& s : sections)
        config.sectioned.sections[config.sectioned.numSections++] = s;
    return config;
}

// Interprets the synthesized record and compares every point with what was measured.
void expectRoundTrip(const ScanConfig& config, std::vector<ScanSection> sections, int darkPeriod) {
    auto record = std::make_unique<ScanDataRecord>();
    ASSERT_EQ(synthesizeScanData(config, kCal, scrambled, 1000.0, darkPeriod, *record),
              SpecStatus::Ok);
    auto results = std::make_unique<ScanResults>();
    ASSERT_EQ(interpretScanRecord(*record, *results), SpecStatus::Ok);
    auto expected = std::make_unique<SectionReadings>();
    int offset = 0;
    for (size_t s = 0; s < sections.size(); ++s) {
        ASSERT_EQ(measureSection(sections[s], static_cast<int>(s), kCal, scrambled, *expected),
                  SpecStatus::Ok);
        for (int k = 0; k < expected->patternCount; ++k) {
            ASSERT_EQ(results->intensity[offset + k], static_cast<int32_t>(expected->value[k]))
                << "section " << s << " pattern " << k;
            ASSERT_EQ(results->wavelengthNm[offset + k], expected->wavelengthNm[k])
                << "section " << s << " pattern " << k;
        }
        offset += expected->patternCount;
    }
    EXPECT_EQ(results->length, offset);
}

TEST(SpectrumRoundTrip, HadamardRoundTripThroughEveryKindOfGroup) {
    const ScanSection cases[] = {
        sectionOf(1, 1, 900, 1700, 3),    sectionOf(1, 2, 900, 1700, 10),
        sectionOf(1, 2, 900, 1700, 20),   sectionOf(1, 2, 900, 1700, 100),
        sectionOf(1, 2, 900, 1700, 200),  sectionOf(1, 1, 900, 1700, 230),
        sectionOf(1, 1, 900, 1700, 245),  sectionOf(1, 2, 900, 1700, 624),
        sectionOf(1, 1, 1000, 1600, 180),
    };
    std::set<int> orders;
    auto plan = std::make_unique<HadamardPlan>();
    for (const ScanSection& s : cases) {
        SCOPED_TRACE(s.numPatterns);
        ASSERT_EQ(planHadamardSection(s, kCal, *plan), SpecStatus::Ok);
        for (int g = 0; g < plan->groupCount; ++g) orders.insert(plan->groups[g].order);
        // Three readings need a dark period of at most 4 to carry a dark reading.
        expectRoundTrip(singleConfig(s), {s}, s.numPatterns == 3 ? 4 : 7);
    }
    EXPECT_EQ(orders, (std::set<int>{3, 11, 23, 103, 163, 191, 239, 251}));
}

TEST(SpectrumRoundTrip, ColumnRoundTrip) {
    const ScanSection column = sectionOf(0, 3, 900, 1700, 300);
    expectRoundTrip(singleConfig(column), {column}, 9);
}

TEST(SpectrumRoundTrip, SplitRoundTripMixingColumnAndHadamard) {
    const std::vector<ScanSection> big = {
        sectionOf(0, 2, 900, 1100, 50, 1),  sectionOf(1, 2, 1100, 1400, 120, 2),
        sectionOf(0, 5, 1400, 1500, 40, 3), sectionOf(1, 3, 1400, 1700, 80, 4),
        sectionOf(1, 1, 900, 1700, 245, 5),
    };
    const ScanConfig bigConfig = sectionedConfig({big[0], big[1], big[2], big[3], big[4]});
    for (int period : {3, 5, 16, 255}) {
        SCOPED_TRACE(period);
        expectRoundTrip(bigConfig, big, period);
    }
    // Every other sample dark: the walk meets a dark reading at each step.
    const std::vector<ScanSection> small = {
        sectionOf(1, 1, 1300, 1200, 3), sectionOf(0, 1, 1000, 1200, 7),
        sectionOf(1, 2, 1100, 1600, 40), sectionOf(0, 1, 950, 950, 1)};
    expectRoundTrip(sectionedConfig({small[0], small[1], small[2], small[3]}), small, 2);
}

}  // namespace
}  // namespace quillon
