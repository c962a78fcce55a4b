#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

#include "serial/records.h"
#include "spectrum/geometry.h"
#include "spectrum/interpret.h"
#include "sim/measurement.h"

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
    ASSERT_EQ(synthesizeScanData(config, kCal, scrambled, 1000.0, darkPeriod, *record), 0);
    auto results = std::make_unique<ScanResults>();
    ASSERT_EQ(interpretScanRecord(*record, *results), 0);
    auto expected = std::make_unique<SectionReadings>();
    int offset = 0;
    for (size_t s = 0; s < sections.size(); ++s) {
        ASSERT_EQ(measureSection(sections[s], static_cast<int>(s), kCal, scrambled, *expected), 0);
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

TEST(SpectrumMeasurement, HadamardRoundTripThroughEveryKindOfGroup) {
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
        ASSERT_EQ(planHadamardSection(s, kCal, *plan), 0);
        for (int g = 0; g < plan->groupCount; ++g) orders.insert(plan->groups[g].order);
        // Three readings need a dark period of at most 4 to carry a dark reading.
        expectRoundTrip(singleConfig(s), {s}, s.numPatterns == 3 ? 4 : 7);
    }
    EXPECT_EQ(orders, (std::set<int>{3, 11, 23, 103, 163, 191, 239, 251}));
}

TEST(SpectrumMeasurement, ColumnRoundTripAndColumnEqualsHadamard) {
    const ScanSection column = sectionOf(0, 3, 900, 1700, 300);
    expectRoundTrip(singleConfig(column), {column}, 9);

    // The same patterns measured both ways give the same spectrum.
    auto asColumn = std::make_unique<ScanDataRecord>();
    auto asHadamard = std::make_unique<ScanDataRecord>();
    auto a = std::make_unique<ScanResults>();
    auto b = std::make_unique<ScanResults>();
    ASSERT_EQ(synthesizeScanData(singleConfig(sectionOf(0, 2, 900, 1700, 200)), kCal, scrambled, 50,
                                 5, *asColumn),
              0);
    ASSERT_EQ(synthesizeScanData(singleConfig(sectionOf(1, 2, 900, 1700, 200)), kCal, scrambled, 50,
                                 5, *asHadamard),
              0);
    ASSERT_EQ(interpretScanRecord(*asColumn, *a), 0);
    ASSERT_EQ(interpretScanRecord(*asHadamard, *b), 0);
    ASSERT_EQ(a->length, 200);
    ASSERT_EQ(b->length, 200);
    EXPECT_EQ(std::memcmp(a->intensity, b->intensity, sizeof(int32_t) * 200), 0);
    EXPECT_EQ(std::memcmp(a->wavelengthNm, b->wavelengthNm, sizeof(double) * 200), 0);
    EXPECT_EQ(asColumn->whole.sampleCount, 250);    // 200 readings, a dark after every 4
    EXPECT_EQ(asHadamard->whole.sampleCount, 257);  // 206 readings (two groups of order 103)
}

TEST(SpectrumMeasurement, SplitRoundTripMixingColumnAndHadamard) {
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

    auto record = std::make_unique<ScanDataRecord>();
    ASSERT_EQ(synthesizeScanData(bigConfig, kCal, scrambled, 1000.0, 3, *record), 0);
    EXPECT_EQ(record->form, ScanDataForm::Split);
    EXPECT_EQ(record->split.numSections, 5);
    EXPECT_EQ(record->split.darkPatternFirst, 2);
    EXPECT_EQ(record->split.darkPatternPeriod, 3);
    EXPECT_EQ(record->split.sections[3].exposureTime, 4);
    EXPECT_EQ(record->split.sampleCount, 841);  // 561 readings, 280 darks
    // Too many readings for the record with a dark at every other sample.
    EXPECT_EQ(synthesizeScanData(bigConfig, kCal, scrambled, 1000.0, 2, *record), -2);
}

TEST(SpectrumMeasurement, PatternBandsAndReadings) {
    auto readings = std::make_unique<SectionReadings>();
    std::vector<PatternBand> seen;
    auto record = [&](const PatternBand& band) {
        seen.push_back(band);
        return 10.0 * band.index;
    };
    ASSERT_EQ(measureSection(sectionOf(1, 4, 1000, 1600, 10, 6), 2, kCal, record, *readings), 0);
    ASSERT_EQ(seen.size(), 10u);
    EXPECT_EQ(readings->readingCount, 11);
    const PatternBand& b = seen[3];
    EXPECT_EQ(std::tuple(b.section, b.index, int(b.width), int(b.exposureTime)),
              std::tuple(2, 3, 4, 6));
    EXPECT_EQ(seen[3].column, seen[3].position - 0.5);  // width 4
    // Each reading sums the members its row lights: (p + 1) / 2 = 6 of the 11
    // columns, the last one empty.
    double total = 0;
    for (int i = 0; i < 11; ++i) total += readings->reading[i];
    EXPECT_EQ(total, 6 * 10.0 * 45);
    EXPECT_EQ(measureSection(sectionOf(2, 4, 1000, 1600, 10), 0, kCal, record, *readings), -5);
    EXPECT_EQ(measureSection(sectionOf(0, 4, 1000, 1600, 865), 0, kCal, record, *readings), -2);
    EXPECT_EQ(measureSection(sectionOf(1, 4, 1000, 1600, 2), 0, kCal, record, *readings), -1);
}

TEST(SpectrumMeasurement, SampleLayout) {
    int32_t samples[kMaxSamples];
    uint16_t count = 0;
    const double readings[] = {1.5, 2.5, 3.5, 4.5, 5.9};
    // Darks where (i + 1) % 3 == 0; the dark after the last reading comes along.
    ASSERT_EQ(layoutSamples(readings, 4, 10.0, 3, samples, count), 0);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(std::vector<int32_t>(samples, samples + 6),
              (std::vector<int32_t>{11, 12, 10, 13, 14, 10}));
    ASSERT_EQ(layoutSamples(readings, 5, 10.0, 3, samples, count), 0);
    EXPECT_EQ(count, 7);
    EXPECT_EQ(samples[6], 15);
    EXPECT_EQ(layoutSamples(readings, 4, 10.0, 1, samples, count), -2);
    EXPECT_EQ(layoutSamples(readings, 4, 10.0, 6, samples, count), -2);  // no dark in 4 readings
    std::vector<double> many(800, 1.0);
    EXPECT_EQ(layoutSamples(many.data(), 800, 0.0, 10, samples, count), -2);  // 800 + 88 > 864
    ASSERT_EQ(layoutSamples(many.data(), 777, 0.0, 10, samples, count), 0);
    EXPECT_EQ(count, 863);

    // The hook sees every reading before the layout.
    auto record = std::make_unique<ScanDataRecord>();
    int hooked = 0;
    ReadingsHook addOne = [&](double* r, int n) {
        hooked = n;
        for (int i = 0; i < n; ++i) r[i] += 1.0;
    };
    const ScanSection column = sectionOf(0, 3, 900, 1700, 20);
    ASSERT_EQ(synthesizeScanData(singleConfig(column), kCal, scrambled, 0.0, 4, *record, addOne),
              0);
    EXPECT_EQ(hooked, 20);
    auto results = std::make_unique<ScanResults>();
    ASSERT_EQ(interpretScanRecord(*record, *results), 0);
    auto expected = std::make_unique<SectionReadings>();
    ASSERT_EQ(measureSection(column, 0, kCal, scrambled, *expected), 0);
    for (int k = 0; k < 20; ++k)
        EXPECT_EQ(results->intensity[k], static_cast<int32_t>(expected->value[k]) + 1);
    EXPECT_EQ(record->whole.numRepeats, 3);
    EXPECT_STREQ(record->whole.configName, "single");
}

// The module's image of a record, in a scan data buffer.
std::vector<uint8_t> imageOf(const ScanDataRecord& record) {
    std::vector<uint8_t> image(kScanDataBufferSize, 0);
    size_t written = 0;
    const int rc = record.form == ScanDataForm::Split
                       ? encodeScanDataSplit(record.split, image.data(), image.size(), written)
                       : encodeScanDataWhole(record.whole, image.data(), image.size(), written);
    EXPECT_EQ(rc, 0);
    return image;
}

TEST(SpectrumMeasurement, ImagesInterpretLikeTheirRecords) {
    const std::vector<ScanSection> sections = {sectionOf(1, 2, 1100, 1400, 120, 2),
                                               sectionOf(0, 5, 1400, 1500, 40, 3)};
    const ScanConfig configs[] = {singleConfig(sectionOf(1, 2, 900, 1700, 624)),
                                  singleConfig(sectionOf(0, 3, 900, 1700, 300)),
                                  sectionedConfig({sections[0], sections[1]})};
    for (const ScanConfig& config : configs) {
        auto record = std::make_unique<ScanDataRecord>();
        ASSERT_EQ(synthesizeScanData(config, kCal, scrambled, 1000.0, 7, *record), 0);
        std::strcpy(record->whole.scanName, "image scan");  // same place in both forms
        auto direct = std::make_unique<ScanResults>();
        auto viaImage = std::make_unique<ScanResults>();
        ASSERT_EQ(interpretScanRecord(*record, *direct), 0);
        const std::vector<uint8_t> image = imageOf(*record);
        ASSERT_EQ(interpretScanData(image.data(), image.size(), *viaImage), 0);
        EXPECT_EQ(viaImage->length, direct->length);
        EXPECT_STREQ(viaImage->scanName, "image scan");
        EXPECT_EQ(std::memcmp(viaImage.get(), direct.get(), sizeof(ScanResults)), 0);
    }

    // Refusals leave the results as they were.
    auto results = std::make_unique<ScanResults>();
    std::memset(results.get(), 0x5A, sizeof(ScanResults));
    auto before = std::make_unique<ScanResults>(*results);
    EXPECT_EQ(interpretScanData(nullptr, kScanDataBufferSize, *results), -6);
    auto record = std::make_unique<ScanDataRecord>();
    ASSERT_EQ(synthesizeScanData(configs[0], kCal, scrambled, 1000.0, 7, *record), 0);
    record->whole.headerVersion = 2;
    const std::vector<uint8_t> image = imageOf(*record);
    EXPECT_EQ(interpretScanData(image.data(), image.size(), *results), -1);
    EXPECT_LT(interpretScanData(image.data(), 100, *results), 0);
    EXPECT_EQ(std::memcmp(results.get(), before.get(), sizeof(ScanResults)), 0);
}

}  // namespace
}  // namespace quillon
