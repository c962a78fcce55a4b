#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "spectrum/geometry.h"
#include "spectrum/interpret.h"

namespace quillon {
namespace {

// Wavelength falls as the column grows: 1700 nm near column 55, 900 nm near 847.
const CalibrationCoefficients kCal = {{1.5, 0.01, -0.00002}, {1760.0, -1.1, 0.0001}};
// column = nm - 900, to put patterns on chosen columns.
const CalibrationCoefficients kStraight = {{0, 0, 0}, {900.0, 1.0, 0.0}};

struct Whole {
    std::unique_ptr<ScanDataRecord> record = std::make_unique<ScanDataRecord>();
    ScanDataWhole& r() { return record->whole; }
};

Whole whole(int type, int width, int startNm, int endNm, int patterns,
            const std::vector<int32_t>& samples, int darkFirst, int darkPeriod,
            const CalibrationCoefficients& cal = kCal) {
    Whole w;
    std::memset(w.record.get(), 0, sizeof(ScanDataRecord));
    w.record->form = ScanDataForm::Whole;
    ScanDataWhole& r = w.r();
    r.headerVersion = 1;
    std::strcpy(r.scanName, "scan-7");
    r.hdrSigned1 = -12;
    r.hdrWord = 0xA1B2C3D4;
    r.hdrLastByte = 9;
    r.calibration = cal;
    r.scanType = static_cast<uint8_t>(type);
    r.configIndex = 3;
    std::strcpy(r.configName, "whole config");
    r.widthPixels = static_cast<uint8_t>(width);
    r.wavelengthStartNm = static_cast<uint16_t>(startNm);
    r.wavelengthEndNm = static_cast<uint16_t>(endNm);
    r.numPatterns = static_cast<uint16_t>(patterns);
    r.numRepeats = 6;
    r.darkPatternFirst = static_cast<uint8_t>(darkFirst);
    r.darkPatternPeriod = static_cast<uint8_t>(darkPeriod);
    int i = 0;
    for (int32_t s : samples) r.samples[i++] = s;
    r.sampleCount = static_cast<uint16_t>(i);
    return w;
}

std::unique_ptr<ScanResults> sentinelResults() {
    auto results = std::make_unique<ScanResults>();
    std::memset(results.get(), 0x5A, sizeof(ScanResults));
    return results;
}

bool untouched(const ScanResults& results) {
    ScanResults sentinel;
    std::memset(&sentinel, 0x5A, sizeof sentinel);
    return std::memcmp(&results, &sentinel, sizeof sentinel) == 0;
}

std::vector<int32_t> intensities(const ScanResults& results) {
    return std::vector<int32_t>(results.intensity, results.intensity + results.length);
}

TEST(SpectrumInterpret, DarkLevelIsATruncatedIntegerMean) {
    auto results = std::make_unique<ScanResults>();
    // Darks at 0 and 3 (period 3): 1 and 2 give 1, not 1.5.
    Whole a = whole(0, 3, 900, 1700, 4, {1, 10, 20, 2, 30, 40}, 0, 3);
    ASSERT_EQ(removeDarkLevel(a.r(), *results), SpecStatus::Ok);
    EXPECT_EQ(intensities(*results), (std::vector<int32_t>{9, 19, 29, 39}));
    // -1 and -2 give -1 (toward zero).
    Whole b = whole(0, 3, 900, 1700, 4, {-1, 10, 20, -2, 30, 40}, 0, 3);
    ASSERT_EQ(removeDarkLevel(b.r(), *results), SpecStatus::Ok);
    EXPECT_EQ(intensities(*results), (std::vector<int32_t>{11, 21, 31, 41}));
    // Large dark readings do not overflow their sum.
    Whole f = whole(0, 3, 900, 1700, 2, {INT32_MAX, INT32_MAX - 5, INT32_MAX, INT32_MAX - 7}, 0, 2);
    ASSERT_EQ(removeDarkLevel(f.r(), *results), SpecStatus::Ok);
    EXPECT_EQ(intensities(*results), (std::vector<int32_t>{-5, -7}));

    // Mended: a period of 0 and more than 864 samples are refused.
    Whole g = whole(0, 3, 900, 1700, 4, {1, 2, 3}, 0, 0);
    EXPECT_EQ(removeDarkLevel(g.r(), *results), SpecStatus::OutOfRange);
    g.r().darkPatternPeriod = 2;
    g.r().sampleCount = kMaxSamples + 1;
    EXPECT_EQ(removeDarkLevel(g.r(), *results), SpecStatus::OutOfRange);
}

TEST(SpectrumInterpret, RefusedRecordsLeaveTheResultsAlone) {
    auto results = sentinelResults();
    Whole version = whole(0, 3, 900, 1700, 2, {0, 10, 20}, 0, 3);
    version.r().headerVersion = 2;
    EXPECT_EQ(interpretScanRecord(*version.record, *results), SpecStatus::NoSolution);
    Whole type = whole(4, 3, 900, 1700, 2, {0, 10, 20}, 0, 3);
    EXPECT_EQ(interpretScanRecord(*type.record, *results), SpecStatus::OutOfRange);
    Whole period = whole(0, 3, 900, 1700, 2, {0, 10, 20}, 0, 0);
    EXPECT_EQ(interpretScanRecord(*period.record, *results), SpecStatus::OutOfRange);
    Whole many = whole(1, 3, 900, 1700, 2, {0, 10, 20}, 0, 3);
    many.r().sampleCount = 900;
    EXPECT_EQ(interpretScanRecord(*many.record, *results), SpecStatus::OutOfRange);
    Whole offRange = whole(0, 3, 850, 1700, 2, {0, 10, 20}, 0, 3);
    EXPECT_EQ(interpretScanRecord(*offRange.record, *results), SpecStatus::OutOfRange);
    Whole unplanned = whole(1, 3, 900, 1700, 2, {0, 10, 20}, 0, 3);
    EXPECT_EQ(interpretScanRecord(*unplanned.record, *results), SpecStatus::NoSolution);
    EXPECT_TRUE(untouched(*results));

    // Success replaces everything: head, configuration, points.
    Whole good = whole(0, 3, 900, 1700, 2, {0, 10, 20}, 0, 3);
    ASSERT_EQ(interpretScanRecord(*good.record, *results), SpecStatus::Ok);
    EXPECT_EQ(std::memcmp(results.get(), &good.r(), offsetof(ScanDataWhole, sampleCount)), 0);
    EXPECT_EQ(results->hdrLastByte, 9);
    EXPECT_EQ(intensities(*results), (std::vector<int32_t>{10, 20}));
    EXPECT_EQ(results->intensity[2], 0);
}

TEST(SpectrumInterpret, ColumnPlacesPointsAtTheirColumns) {
    auto results = std::make_unique<ScanResults>();
    auto positions = std::make_unique<PatternPositions>();
    ScanSection section{0, 3, 900, 1700, 5, 0};
    ASSERT_EQ(computeSectionPositions(section, kCal, *positions), SpecStatus::Ok);

    Whole odd = whole(0, 3, 900, 1700, 5, {100, 110, 120, 130, 100, 140, 150}, 0, 4);
    ASSERT_EQ(interpretColumnScan(odd.r(), *results), SpecStatus::Ok);
    ASSERT_EQ(results->length, 5);
    EXPECT_EQ(intensities(*results), (std::vector<int32_t>{10, 20, 30, 40, 50}));
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(results->wavelengthNm[k],
                  pixelToNm(positions->position[k], kCal.pixelToNmCoeffs));
    }
    EXPECT_NEAR(results->wavelengthNm[0], 900.0, 1.2);
    EXPECT_NEAR(results->wavelengthNm[4], 1700.0, 1.2);

    // More readings than patterns: the extra ones have no column and are dropped.
    Whole extra = whole(0, 3, 900, 1700, 2, {0, 10, 20, 30, 40, 50}, 0, 10);
    ASSERT_EQ(interpretColumnScan(extra.r(), *results), SpecStatus::Ok);
    EXPECT_EQ(intensities(*results), (std::vector<int32_t>{10, 20}));
    // A single pattern sits at the start wavelength's column.
    Whole one = whole(0, 1, 1000, 1009, 1, {0, 10}, 0, 10, kStraight);
    ASSERT_EQ(interpretColumnScan(one.r(), *results), SpecStatus::Ok);
    EXPECT_EQ(results->wavelengthNm[0], 1000.0);
    Whole noColumn = whole(0, 1, 1000, 1800, 3, {0, 10}, 0, 10, kCal);
    EXPECT_EQ(interpretColumnScan(noColumn.r(), *results), SpecStatus::OutOfRange);
}

TEST(SpectrumInterpret, HadamardOfOrderThree) {
    // Patterns at columns 109, 104, 100 (width 1): one group of order 3, rows
    // 110, 101, 011, the dark reading (100) after the readings.
    const struct {
        int width;
        std::vector<int32_t> samples;
        int darkFirst;
        std::vector<int32_t> expected;
        double firstNm;
    } cases[] = {
        {1, {130, 140, 150, 100}, 3, {10, 20, 30}, 1009.0},
        {1, {102, 100, 103, 100}, 3, {0, 2, 0}, 1009.0},     // -0.5, 2.5, 0.5 toward zero
        {1, {100, 100, 103, 100}, 3, {-1, 1, 1}, 1009.0},    // -1.5, 1.5, 1.5
        {2, {130, 140, 150, 100}, 3, {10, 20, 30}, 1008.5},  // even width: half a column lower
        {1, {130, 140, 100}, 2, {35, -5, 5}, 1009.0},        // a missing reading counts as 0
    };
    auto results = std::make_unique<ScanResults>();
    for (const auto& c : cases) {
        Whole w = whole(1, c.width, 1009, 1000, 3, c.samples, c.darkFirst, 4, kStraight);
        ASSERT_EQ(interpretHadamardScan(w.r(), *results), SpecStatus::Ok);
        EXPECT_EQ(intensities(*results), c.expected);
        EXPECT_EQ(results->wavelengthNm[0], c.firstNm);
    }
    EXPECT_EQ(results->wavelengthNm[1], 1004.0);
    EXPECT_EQ(results->wavelengthNm[2], 1000.0);
}

TEST(SpectrumInterpret, HadamardPlansThatCannotBeDecodedAreRefused) {
    auto results = sentinelResults();
    // 284 members 5 columns apart: one group of order 307, beyond the table.
    Whole big = whole(1, 2, 1000, 1000 + 283 * 5, 284, {0}, 0, 2, kStraight);
    big.r().sampleCount = 600;
    EXPECT_EQ(interpretScanRecord(*big.record, *results), SpecStatus::OutOfRange);
    // 285 members cannot be planned into a group.
    Whole bigger = whole(1, 2, 1000, 1000 + 284 * 5, 285, {0}, 0, 2, kStraight);
    EXPECT_EQ(interpretScanRecord(*bigger.record, *results), SpecStatus::OutOfRange);
    // 880 patterns 1.2 columns apart: four groups of order 223, 892 readings > 864.
    Whole wide = whole(1, 2, 1000, 2055, 880, {0}, 0, 2, kStraight);
    auto plan = std::make_unique<HadamardPlan>();
    ScanSection section{1, 2, 1000, 2055, 880, 0};
    ASSERT_EQ(planHadamardSection(section, kStraight, *plan), SpecStatus::Ok);
    ASSERT_EQ(plan->total, 892);
    EXPECT_EQ(interpretScanRecord(*wide.record, *results), SpecStatus::OutOfRange);
    EXPECT_TRUE(untouched(*results));
}

// Split-form record with hand-laid samples: darks where (i + 1) % period == 0.
std::unique_ptr<ScanDataRecord> split(std::initializer_list<ScanSection> sections,
                                      std::initializer_list<int32_t> samples, int darkPeriod,
                                      const CalibrationCoefficients& cal = kStraight) {
    auto record = std::make_unique<ScanDataRecord>();
    std::memset(record.get(), 0, sizeof(ScanDataRecord));
    record->form = ScanDataForm::Split;
    ScanDataSplit& s = record->split;
    s.headerVersion = 1;
    std::strcpy(s.scanName, "split scan");
    s.calibration = cal;
    s.scanType = 2;
    s.configIndex = 11;
    std::strcpy(s.configName, "sectioned");
    s.numRepeats = 4;
    s.darkPatternFirst = static_cast<uint8_t>(darkPeriod - 1);
    s.darkPatternPeriod = static_cast<uint8_t>(darkPeriod);
    for (const ScanSection& sec : sections) s.sections[s.numSections++] = sec;
    for (int32_t v : samples) s.samples[s.sampleCount++] = v;
    return record;
}

TEST(SpectrumInterpret, ExtractSectionWalksPastDarkReadings) {
    auto out = std::make_unique<ScanDataWhole>();
    // Period 4: samples 3 and 7 are dark. Section 0 takes 0..2, section 1 takes
    // 3 (dark) and 4..6, section 2 takes 7 (dark) and 8.
    auto record =
        split({{0, 1, 1000, 1020, 3, 0}, {0, 1, 1030, 1050, 3, 0}, {0, 1, 1060, 1060, 1, 0}},
              {10, 11, 12, 99, 20, 21, 22, 99, 30}, 4);
    const ScanDataSplit& s = record->split;
    ASSERT_EQ(extractScanSection(s, 0, *out), SpecStatus::Ok);
    EXPECT_EQ(out->sampleCount, 3);
    EXPECT_EQ(out->darkPatternFirst, 3);
    EXPECT_EQ(out->samples[2], 12);
    ASSERT_EQ(extractScanSection(s, 1, *out), SpecStatus::Ok);
    EXPECT_EQ(out->sampleCount, 4);
    EXPECT_EQ(out->darkPatternFirst, 0);
    EXPECT_EQ(out->darkPatternPeriod, 4);
    EXPECT_EQ(out->samples[0], 99);
    EXPECT_EQ(out->samples[3], 22);
    EXPECT_EQ(out->wavelengthStartNm, 1030);
    ASSERT_EQ(extractScanSection(s, 2, *out), SpecStatus::Ok);
    EXPECT_EQ(out->sampleCount, 2);
    EXPECT_EQ(out->darkPatternFirst, 0);
    EXPECT_EQ(out->samples[1], 30);
    EXPECT_EQ(extractScanSection(s, 3, *out), SpecStatus::OutOfRange);
    EXPECT_EQ(extractScanSection(s, -1, *out), SpecStatus::OutOfRange);

    auto results = std::make_unique<ScanResults>();
    ASSERT_EQ(interpretScanRecord(*record, *results), SpecStatus::Ok);
    // Dark level 99 over the whole record.
    EXPECT_EQ(intensities(*results), (std::vector<int32_t>{-89, -88, -87, -79, -78, -77, -69}));
    EXPECT_EQ(results->wavelengthNm[3], 1030.0);
    EXPECT_EQ(results->wavelengthNm[6], 1060.0);
    EXPECT_EQ(results->config.sectioned.sections[2].wavelengthStartNm, 1060);
}

TEST(SpectrumInterpret, SplitRecordsThatCannotBeWalkedAreRefused) {
    auto out = std::make_unique<ScanDataWhole>();
    auto results = sentinelResults();
    // Period 1 would walk forever; period 0 has no dark position.
    auto one = split({{0, 1, 1000, 1020, 3, 0}}, {1, 2, 3, 4}, 1);
    EXPECT_EQ(extractScanSection(one->split, 0, *out), SpecStatus::OutOfRange);
    EXPECT_EQ(interpretScanRecord(*one, *results), SpecStatus::OutOfRange);
    auto zero = split({{0, 1, 1000, 1020, 3, 0}}, {1, 2, 3, 4}, 2);
    zero->split.darkPatternPeriod = 0;
    EXPECT_EQ(interpretScanRecord(*zero, *results), SpecStatus::OutOfRange);
    // Sections needing more samples than the record holds.
    auto shortRec =
        split({{0, 1, 1000, 1020, 3, 0}, {0, 1, 1030, 1050, 3, 0}}, {10, 11, 12, 99, 20, 21}, 4);
    EXPECT_EQ(extractScanSection(shortRec->split, 1, *out), SpecStatus::OutOfRange);
    EXPECT_EQ(interpretScanRecord(*shortRec, *results), SpecStatus::OutOfRange);
    auto huge = split({{0, 1, 1000, 1020, 3, 0}, {0, 1, 1000, 1700, 900, 0}}, {10, 11, 12}, 4);
    huge->split.sampleCount = kMaxSamples;
    EXPECT_EQ(interpretScanRecord(*huge, *results), SpecStatus::OutOfRange);
    auto counted = split({{0, 1, 1000, 1020, 3, 0}}, {10, 11, 12}, 4);
    counted->split.sampleCount = kMaxSamples + 1;
    EXPECT_EQ(interpretScanRecord(*counted, *results), SpecStatus::OutOfRange);
    // More sections than a record has room for.
    auto sections = split({{0, 1, 1000, 1020, 1, 0}}, {10, 11, 12, 99}, 4);
    sections->split.numSections = 6;
    EXPECT_EQ(extractScanSection(sections->split, 5, *out), SpecStatus::OutOfRange);
    EXPECT_EQ(interpretScanRecord(*sections, *results), SpecStatus::OutOfRange);
    // A section of type 2 after one that decoded.
    auto typed = split({{0, 1, 1000, 1020, 3, 0}, {2, 1, 1030, 1050, 3, 0}},
                       {10, 11, 12, 99, 20, 21, 22}, 4);
    EXPECT_EQ(interpretScanRecord(*typed, *results), SpecStatus::UnsupportedSection);
    // A Hadamard section that cannot be planned, on the way to the next one.
    auto unplanned =
        split({{1, 1, 1000, 1020, 2, 0}, {0, 1, 1030, 1050, 1, 0}}, {10, 11, 12, 99, 20}, 4);
    EXPECT_EQ(extractScanSection(unplanned->split, 1, *out), SpecStatus::NoSolution);
    EXPECT_TRUE(untouched(*results));

    // No section: success with cleared results.
    auto empty = split({}, {10, 11, 12, 99}, 4);
    ASSERT_EQ(interpretScanRecord(*empty, *results), SpecStatus::Ok);
    EXPECT_EQ(results->length, 0);
    EXPECT_EQ(results->headerVersion, 0u);
}

}  // namespace
}  // namespace quillon
