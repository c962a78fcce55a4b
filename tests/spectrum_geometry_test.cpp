#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "spectrum/geometry.h"
#include "spectrum/hadamard.h"

namespace quillon {
namespace {

// Wavelength falls as the column grows: 1700 nm near column 55, 900 nm near 847.
const CalibrationCoefficients kCal = {{1.5, 0.01, -0.00002}, {1760.0, -1.1, 0.0001}};

// A straight calibration, nm = a0 + a1 * x, that puts patterns on chosen columns.
CalibrationCoefficients linear(double a0, double a1) {
    return {{0, 0, 0}, {a0, a1, 0.0}};
}

ScanSection section(int type, int width, int startNm, int endNm, int patterns) {
    ScanSection s{};
    s.sectionScanType = static_cast<uint8_t>(type);
    s.widthPixels = static_cast<uint8_t>(width);
    s.wavelengthStartNm = static_cast<uint16_t>(startNm);
    s.wavelengthEndNm = static_cast<uint16_t>(endNm);
    s.numPatterns = static_cast<uint16_t>(patterns);
    return s;
}

TEST(SpectrumGeometry, PixelToNmKeepsItsEvaluationOrder) {
    // a2 x x + a1 x + a0 in that order; the Horner form gives 1644.7933062499999.
    EXPECT_EQ(pixelToNm(105.75, kCal.pixelToNmCoeffs), 1644.7933062500001);
    EXPECT_EQ(pixelToNm(0.0, kCal.pixelToNmCoeffs), 1760.0);
    EXPECT_EQ(patternColumn(40, 3), 40.0);
    EXPECT_EQ(patternColumn(40, 2), 39.5);
}

TEST(SpectrumGeometry, NmToPixelRootsAndEdges) {
    double x = -1;
    ASSERT_EQ(nmToPixel(900, kCal.pixelToNmCoeffs, &x), SpecStatus::Ok);
    EXPECT_NEAR(pixelToNm(x, kCal.pixelToNmCoeffs), 900.0, 1e-9);
    EXPECT_GT(x, 800);  // the minus root: the plus root lies far beyond 853
    ASSERT_EQ(nmToPixel(1700, kCal.pixelToNmCoeffs, &x), SpecStatus::Ok);
    EXPECT_NEAR(x, 54.8186, 1e-3);

    // a2 = 0: a1 = 0 is degenerate; otherwise the straight solution, range or not.
    const double flat[3] = {1000, 0, 0};
    EXPECT_EQ(nmToPixel(1200, flat, &x), SpecStatus::OutOfRange);
    const double straight[3] = {1000, 0.5, 0};
    ASSERT_EQ(nmToPixel(2000, straight, &x), SpecStatus::Ok);
    EXPECT_EQ(x, 2000.0);
    ASSERT_EQ(nmToPixel(900, straight, &x), SpecStatus::Ok);
    EXPECT_EQ(x, -200.0);

    // (x - 10)(x - 20) = x^2 - 30x + 200: roots 10 and 20, the plus root wins.
    const double both[3] = {200, -30, 1};
    ASSERT_EQ(nmToPixel(0, both, &x), SpecStatus::Ok);
    EXPECT_EQ(x, 20.0);
    // x^2 - 853x: roots exactly 0 and 853 are both in range.
    const double edges[3] = {0, -853, 1};
    ASSERT_EQ(nmToPixel(0, edges, &x), SpecStatus::Ok);
    EXPECT_EQ(x, 853.0);
    // (x + 5)(x - 900): both roots outside 0..853.
    const double outside[3] = {-4500, -895, 1};
    x = 123;
    EXPECT_EQ(nmToPixel(0, outside, &x), SpecStatus::NoSolution);
    EXPECT_EQ(x, 123);
    EXPECT_EQ(nmToPixel(0, nullptr, &x), SpecStatus::MissingArgument);
    EXPECT_EQ(nmToPixel(0, both, nullptr), SpecStatus::MissingArgument);
}

TEST(SpectrumGeometry, RowShiftsKeepTheLowByteOfTheTruncation) {
    int8_t shifts[kRowCount];
    const double constant300[3] = {300.7, 0, 0};
    ASSERT_EQ(computeRowShifts(constant300, shifts), SpecStatus::Ok);
    EXPECT_EQ(shifts[0], 44);  // 300 = 0x12C
    const double negative[3] = {-1.7, 0, 0};
    computeRowShifts(negative, shifts);
    EXPECT_EQ(shifts[479], -1);  // toward zero, not down
    const double ramp[3] = {0, 1, 0};
    computeRowShifts(ramp, shifts);
    EXPECT_EQ(shifts[100], 100);
    EXPECT_EQ(shifts[200], -56);
    EXPECT_EQ(shifts[256], 0);
    EXPECT_EQ(computeRowShifts(nullptr, shifts), SpecStatus::MissingArgument);
    EXPECT_EQ(computeRowShifts(ramp, nullptr), SpecStatus::MissingArgument);
}

TEST(SpectrumGeometry, PatternPositions) {
    auto positions = std::make_unique<PatternPositions>();
    // One pattern: step 0, the start wavelength's column.
    ASSERT_EQ(computeSectionPositions(section(0, 5, 900, 1700, 1), kCal, *positions),
              SpecStatus::Ok);
    EXPECT_EQ(positions->count, 1);
    EXPECT_EQ(positions->width, 5);
    EXPECT_EQ(positions->position[0], 847);
    // Ten patterns 3 columns apart on a straight calibration, descending.
    const CalibrationCoefficients cal = linear(1000, -1);
    ASSERT_EQ(computeSectionPositions(section(0, 2, 873, 900, 10), cal, *positions),
              SpecStatus::Ok);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(positions->position[k], 127 - 3 * k);
    // The realistic range: truncated, spread over 55..847, each within a column of the ideal.
    ASSERT_EQ(computeSectionPositions(section(0, 2, 900, 1700, 624), kCal, *positions),
              SpecStatus::Ok);
    double xs = 0, xe = 0;
    nmToPixel(900, kCal.pixelToNmCoeffs, &xs);
    nmToPixel(1700, kCal.pixelToNmCoeffs, &xe);
    for (int k = 0; k < 624; ++k)
        EXPECT_LE(std::fabs(positions->position[k] - (xs + k * (xe - xs) / 623)), 1.0) << k;
    EXPECT_EQ(positions->position[623], 54);

    // Unconvertible wavelengths and counts beyond the array are refused.
    EXPECT_EQ(computeSectionPositions(section(0, 2, 850, 1700, 10), kCal, *positions),
              SpecStatus::OutOfRange);
    EXPECT_EQ(computeSectionPositions(section(0, 2, 900, 1700, kMaxPatternPositions + 1), kCal,
                                      *positions),
              SpecStatus::OutOfRange);
    EXPECT_EQ(
        computeSectionPositions(section(0, 2, 900, 1700, kMaxPatternPositions), kCal, *positions),
        SpecStatus::Ok);
}

TEST(SpectrumGeometry, HadamardGroupOrders) {
    // Members -> order: the smallest stored order that holds them, beyond the table too.
    const std::pair<int, int> cases[] = {{1, 3},     {3, 3},     {4, 7},    {7, 7},   {8, 11},
                                         {11, 11},   {12, 19},   {19, 19},  {20, 23}, {24, 31},
                                         {240, 251}, {252, 263}, {284, 307}};
    for (auto [count, order] : cases) EXPECT_EQ(hadamardGroupOrder(count), order) << count;
    // Every order a group of up to 251 members gets has a stored matrix.
    for (int c = 1; c <= 251; ++c) {
        const int p = hadamardGroupOrder(c);
        EXPECT_GE(p, c);
        EXPECT_EQ(hadamardPackedMatrix(p, nullptr, nullptr), 0) << c;
    }
}

TEST(SpectrumGeometry, HadamardGrouping) {
    auto plan = std::make_unique<HadamardPlan>();
    const CalibrationCoefficients cal = linear(900, 1);  // column = nm - 900
    // Ten patterns 3 columns apart, width 2: G = 1 leaves a gap of 1, G = 2 one of 4.
    ASSERT_EQ(planHadamardSection(section(1, 2, 1000, 1027, 10), cal, *plan), SpecStatus::Ok);
    EXPECT_EQ(plan->groupCount, 2);
    EXPECT_EQ(plan->total, 14);
    EXPECT_EQ(plan->width, 2);
    for (int g = 0; g < 2; ++g) {
        EXPECT_EQ(plan->groups[g].count, 5);
        EXPECT_EQ(plan->groups[g].order, 7);
        for (int m = 0; m < 5; ++m) {
            EXPECT_EQ(plan->groups[g].patternIndex[m], g + 2 * m);
            EXPECT_EQ(plan->groups[g].position[m], 100 + 3 * (g + 2 * m));
        }
    }
    // Two patterns are never planned.
    EXPECT_EQ(planHadamardSection(section(1, 2, 1000, 1100, 2), cal, *plan),
              SpecStatus::NoSolution);
    // Three patterns at 109, 104, 100: only the pair (0, 1) is examined.
    ASSERT_EQ(planHadamardSection(section(1, 3, 1009, 1000, 3), cal, *plan), SpecStatus::Ok);
    EXPECT_EQ(plan->groupCount, 1);
    EXPECT_EQ(plan->groups[0].order, 3);
    EXPECT_EQ(plan->total, 3);
    EXPECT_EQ(planHadamardSection(section(1, 4, 1009, 1000, 3), cal, *plan),
              SpecStatus::NoSolution);
    // Patterns too dense for 15 groups.
    EXPECT_EQ(planHadamardSection(section(1, 2, 1000, 1050, 200), cal, *plan),
              SpecStatus::NoSolution);
    EXPECT_EQ(planHadamardSection(section(1, 2, 850, 1000, 10), kCal, *plan),
              SpecStatus::OutOfRange);

    // A group may hold 284 members (order 307, beyond the table, but it fits)...
    ASSERT_EQ(planHadamardSection(section(1, 2, 1000, 1000 + 283 * 5, 284), cal, *plan),
              SpecStatus::Ok);
    EXPECT_EQ(plan->groupCount, 1);
    EXPECT_EQ(plan->groups[0].count, 284);
    EXPECT_EQ(plan->groups[0].order, 307);
    // ...but not 285, and a refused plan is left as it was.
    plan->total = 4242;
    EXPECT_EQ(planHadamardSection(section(1, 2, 1000, 1000 + 284 * 5, 285), cal, *plan),
              SpecStatus::OutOfRange);
    EXPECT_EQ(plan->total, 4242);
    EXPECT_EQ(planHadamardSection(section(1, 2, 1000, 60000, kMaxPatternPositions + 1), cal, *plan),
              SpecStatus::OutOfRange);
}

// The largest n whose plan qualifies, trying every n with the planner itself.
int maxHadamardByPlanning(const CalibrationCoefficients& cal, int startNm, int endNm, int width) {
    double xs = 0, xe = 0;
    if (nmToPixel(startNm, cal.pixelToNmCoeffs, &xs) != SpecStatus::Ok) return 0;
    if (nmToPixel(endNm, cal.pixelToNmCoeffs, &xe) != SpecStatus::Ok) return 0;
    auto plan = std::make_unique<HadamardPlan>();
    int best = 0;
    for (int n = 1; n <= 623; ++n) {
        ScanConfig config{};
        config.scanType = 1;
        config.single.wavelengthStartNm = static_cast<uint16_t>(startNm);
        config.single.wavelengthEndNm = static_cast<uint16_t>(endNm);
        config.single.widthPixels = static_cast<uint8_t>(width + 2);
        config.single.numPatterns = static_cast<uint16_t>(n);
        if (planHadamardGroups(config, cal, *plan) == SpecStatus::Ok && xs - xe >= n &&
            plan->total <= 623)
            best = n;
    }
    return best;
}

TEST(SpectrumGeometry, MaxPatternsHadamardMatchesPlanningEveryCount) {
    const CalibrationCoefficients other = {{0, 0.02, 0}, {1735.0, -0.98, -0.00002}};
    struct Case {
        const CalibrationCoefficients* cal;
        int start, end, width;
    } cases[] = {{&kCal, 900, 1700, 0},   {&kCal, 900, 1700, 2},  {&kCal, 900, 1700, 7},
                 {&kCal, 1000, 1300, 2},  {&kCal, 1200, 1210, 2}, {&other, 900, 1700, 2},
                 {&other, 950, 1650, 12}, {&kCal, 1500, 1500, 2}};
    for (const Case& c : cases) {
        const int expected = maxHadamardByPlanning(*c.cal, c.start, c.end, c.width);
        EXPECT_EQ(computeMaxPatterns(*c.cal, c.start, c.end, c.width, 1), expected)
            << c.start << ".." << c.end << " width " << c.width;
    }
    EXPECT_GT(computeMaxPatterns(kCal, 900, 1700, 2, 1), 400);
    // The span is taken as start column minus end column: a calibration whose
    // wavelength grows with the column admits no Hadamard pattern.
    const CalibrationCoefficients rising = linear(850, 1);
    EXPECT_EQ(computeMaxPatterns(rising, 900, 1700, 2, 1), 0);
    EXPECT_GT(computeMaxPatterns(rising, 900, 1700, 2, 0), 0);
}

TEST(SpectrumGeometry, MaxPatternsColumnAndLimits) {
    // Out of range, reversed, empty, unknown type; 900 nm without a column.
    const CalibrationCoefficients shortRange = {{0, 0, 0}, {1720.0, -1.0, 0.0001}};
    const struct {
        const CalibrationCoefficients* cal;
        int start, end, type;
    } none[] = {{&kCal, 899, 1700, 0},       {&kCal, 900, 1701, 0},      {&kCal, 1300, 1200, 0},
                {&kCal, 1300, 1300, 0},      {&kCal, 1300, 1300, 1},     {&kCal, 900, 1700, 2},
                {&shortRange, 900, 1700, 0}, {&shortRange, 900, 1700, 1}};
    for (const auto& c : none)
        EXPECT_EQ(computeMaxPatterns(*c.cal, c.start, c.end, 2, c.type), 0) << c.start;

    // Wider patterns admit fewer Column patterns; the realistic range admits hundreds.
    const int narrow = computeMaxPatterns(kCal, 900, 1700, 2, 0);
    const int wide = computeMaxPatterns(kCal, 900, 1700, 20, 0);
    EXPECT_GT(narrow, 300);
    EXPECT_LT(wide, narrow);
    EXPECT_GT(wide, 0);
    // Row shifts that jump by 30 columns inside a block of four rows tighten the limit.
    CalibrationCoefficients shifted = kCal;
    shifted.rowShiftCoeffs[1] = 30.0;
    EXPECT_LT(computeMaxPatterns(shifted, 900, 1700, 2, 0), narrow);

    // A range across column 0 (positions wrap): trial 13 fails though trial
    // 14 would pass again; the search stops at the first failure.
    EXPECT_EQ(computeMaxPatterns(linear(911.44, -1), 900, 918, 0, 0), 12);
}

}  // namespace
}  // namespace quillon
