#include "spectrum/geometry.h"

#include <array>
#include <cmath>
#include <cstdlib>

namespace quillon {
namespace {

constexpr int kHadamardMaxTrialPatterns = 623;

// Truncation toward zero, wrapped to 16 bits as an integer register would
// hold it; values no integer can hold give 0.
uint16_t truncToU16(double x) {
    if (!(std::fabs(x) < 9.2e18)) return 0;
    return static_cast<uint16_t>(static_cast<uint64_t>(static_cast<int64_t>(x)));
}

// Truncation toward zero to 32 bits; values outside the range (and NaN) give
// the integer-indefinite value INT32_MIN, as the processor's conversion does.
int32_t truncToI32(double x) {
    if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(x);
}

void fillPositions(double xs, double xe, int n, uint16_t* position) {
    spreadPositions(xs, xe, n, n, position);
}

// The smallest group count G (1..15) for which every pattern is at least two
// columns clear of the pattern G places further on; the pair that ends at the
// last pattern is not examined. 0 when no G works.
int chooseGroupCount(const uint16_t* position, int n, int width) {
    for (int g = 1; g <= kMaxGroups; ++g) {
        const int last = n - g - 2;
        if (last < 0) return 0;  // no pair to examine, nor for any larger G
        bool clear = true;
        for (int j = 0; j <= last; ++j) {
            const int a = position[j];
            const int b = position[j + g];
            const int gap = (a < b) ? b - width - a : a - width - b;
            if (gap < 2) {
                clear = false;
                break;
            }
        }
        if (clear) return g;
    }
    return 0;
}

constexpr int computeGroupOrder(int count) {
    const int m = ((count + 1) + 3) / 4 * 4;
    int p = m - 1;
    for (;;) {
        bool prime = true;
        if (p / 2 >= 2) {
            for (int d = 2; d <= p / 2; ++d) {
                if (p % d == 0) {
                    prime = false;
                    break;
                }
            }
        }
        if (prime) return p;
        p += 4;
    }
}

constexpr std::array<uint16_t, kMaxGroupMembers + 1> makeOrderTable() {
    std::array<uint16_t, kMaxGroupMembers + 1> orders{};
    for (int c = 0; c <= kMaxGroupMembers; ++c) orders[c] = computeGroupOrder(c);
    return orders;
}

constexpr auto kGroupOrders = makeOrderTable();

int membersOfGroup(int n, int groupCount, int g) {
    return (n - g + groupCount - 1) / groupCount;
}

SpecStatus sectionEnds(const ScanSection& section, const CalibrationCoefficients& cal, double& xs,
                       double& xe) {
    if (nmToPixel(section.wavelengthStartNm, cal.pixelToNmCoeffs, &xs) != SpecStatus::Ok)
        return SpecStatus::OutOfRange;
    if (nmToPixel(section.wavelengthEndNm, cal.pixelToNmCoeffs, &xe) != SpecStatus::Ok)
        return SpecStatus::OutOfRange;
    return SpecStatus::Ok;
}

ScanSection singleFormSection(const ScanConfig& config) {
    ScanSection section{};
    section.sectionScanType = config.scanType;
    section.widthPixels = config.single.widthPixels;
    section.wavelengthStartNm = config.single.wavelengthStartNm;
    section.wavelengthEndNm = config.single.wavelengthEndNm;
    section.numPatterns = config.single.numPatterns;
    return section;
}

int maxShiftOfRows(const double* rowShiftCoeffs) {
    int8_t shifts[kRowCount];
    computeRowShifts(rowShiftCoeffs, shifts);
    int maxShift = 0;
    for (int block = 0; block < kRowCount / 4; ++block) {
        for (int r = 4 * block; r < 4 * block + 3; ++r) {
            const int d = std::abs(shifts[r + 1] - shifts[r]);
            if (d > maxShift) maxShift = d;
        }
    }
    return maxShift;
}

int maxColumnPatterns(double xs, double xe, int widened, int maxShift) {
    uint16_t position[kMaxPatterns];
    int overlap = 0;  // grows over the trials and is never reset
    int best = 0;
    for (int n = 8; n <= kMaxPatterns; ++n) {
        fillPositions(xs, xe, n, position);
        bool fails = false;
        for (int j = 0; j + 9 <= n; ++j) {
            const int clearance = widened - std::abs(position[j + 1] - position[j]);
            if (clearance > overlap) overlap = clearance;
            if (std::abs(position[j + 7] - position[j]) <= maxShift + 8 + overlap) {
                fails = true;
                break;
            }
        }
        if (!fails && n > std::abs(position[n - 1] - position[0])) fails = true;
        if (fails) break;
        best = n;
    }
    return best;
}

// Largest n whose Hadamard plan fits: the plan of every n is what
// planHadamardSection would make, but the search runs from the top and stops
// at the first n that qualifies, and the plan is reduced to its total.
int maxHadamardPatterns(double xs, double xe, uint8_t widened) {
    uint16_t position[kHadamardMaxTrialPatterns];
    for (int n = kHadamardMaxTrialPatterns; n >= 1; --n) {
        if (!(xs - xe >= n)) continue;
        fillPositions(xs, xe, n, position);
        const int groupCount = chooseGroupCount(position, n, widened);
        if (groupCount == 0) continue;
        if (membersOfGroup(n, groupCount, 0) > kMaxGroupMembers) continue;
        int total = 0;
        for (int g = 0; g < groupCount; ++g)
            total += kGroupOrders[membersOfGroup(n, groupCount, g)];
        if (total <= kHadamardMaxTrialPatterns) return n;
    }
    return 0;
}

}  // namespace

void spreadPositions(double xs, double xe, int n, int count, uint16_t* position) {
    const double step = (n > 1) ? (xe - xs) / (n - 1) : 0.0;
    double x = xs;
    for (int k = 0; k < count; ++k) {
        position[k] = truncToU16(x);
        x = x + step;
    }
}

double pixelToNm(double x, const double pixelToNmCoeffs[3]) {
    double t = x * pixelToNmCoeffs[2];
    t = t * x;
    t = t + x * pixelToNmCoeffs[1];
    return t + pixelToNmCoeffs[0];
}

SpecStatus nmToPixel(double nm, const double* pixelToNmCoeffs, double* x) {
    if (!pixelToNmCoeffs || !x) return SpecStatus::MissingArgument;
    const double a0 = pixelToNmCoeffs[0];
    const double a1 = pixelToNmCoeffs[1];
    const double a2 = pixelToNmCoeffs[2];
    if (a2 == 0.0) {
        if (a1 == 0.0) return SpecStatus::OutOfRange;
        *x = (nm - a0) / a1;
        return SpecStatus::Ok;
    }
    // A negative discriminant gives NaN roots, which no range test accepts.
    const double d = std::sqrt(a1 * a1 - (a0 - nm) * (a2 * 4.0));
    const double x1 = (-a1 + d) / (2 * a2);
    if (x1 >= 0.0 && x1 <= kColumnCount - 1) {
        *x = x1;
        return SpecStatus::Ok;
    }
    const double x2 = (-a1 - d) / (2 * a2);
    if (x2 >= 0.0 && x2 <= kColumnCount - 1) {
        *x = x2;
        return SpecStatus::Ok;
    }
    return SpecStatus::NoSolution;
}

SpecStatus computeRowShifts(const double* rowShiftCoeffs, int8_t* shifts) {
    if (!rowShiftCoeffs || !shifts) return SpecStatus::MissingArgument;
    const double c0 = rowShiftCoeffs[0];
    const double c1 = rowShiftCoeffs[1];
    const double c2 = rowShiftCoeffs[2];
    for (int y = 0; y < kRowCount; ++y) {
        const double shift = ((y * c2) * y + y * c1) + c0;
        shifts[y] = static_cast<int8_t>(static_cast<uint8_t>(truncToI32(shift) & 0xFF));
    }
    return SpecStatus::Ok;
}

SpecStatus computeSectionPositions(const ScanSection& section, const CalibrationCoefficients& cal,
                                   PatternPositions& out) {
    double xs = 0.0;
    double xe = 0.0;
    const SpecStatus rc = sectionEnds(section, cal, xs, xe);
    if (rc != SpecStatus::Ok) return rc;
    const int n = section.numPatterns;
    if (n > kMaxPatternPositions) return SpecStatus::OutOfRange;
    fillPositions(xs, xe, n, out.position);
    out.count = static_cast<uint16_t>(n);
    out.width = section.widthPixels;
    return SpecStatus::Ok;
}

SpecStatus computePatternPositions(const ScanConfig& config, const CalibrationCoefficients& cal,
                                   PatternPositions& out) {
    return computeSectionPositions(singleFormSection(config), cal, out);
}

SpecStatus planHadamardSection(const ScanSection& section, const CalibrationCoefficients& cal,
                               HadamardPlan& out) {
    PatternPositions positions;
    const SpecStatus rc = computeSectionPositions(section, cal, positions);
    if (rc != SpecStatus::Ok) return rc;
    const int n = positions.count;
    const int width = section.widthPixels;
    const int groupCount = chooseGroupCount(positions.position, n, width);
    if (groupCount == 0) return SpecStatus::NoSolution;
    if (membersOfGroup(n, groupCount, 0) > kMaxGroupMembers) return SpecStatus::OutOfRange;
    int total = 0;
    for (int g = 0; g < groupCount; ++g) {
        PatternGroup& group = out.groups[g];
        int count = 0;
        for (int j = g; j < n; j += groupCount) {
            group.patternIndex[count] = static_cast<uint16_t>(j);
            group.position[count] = positions.position[j];
            ++count;
        }
        group.count = static_cast<uint16_t>(count);
        group.order = kGroupOrders[count];
        total += group.order;
    }
    out.total = static_cast<uint16_t>(total);
    out.width = static_cast<uint16_t>(width);
    out.groupCount = static_cast<uint8_t>(groupCount);
    return SpecStatus::Ok;
}

SpecStatus planHadamardGroups(const ScanConfig& config, const CalibrationCoefficients& cal,
                              HadamardPlan& out) {
    return planHadamardSection(singleFormSection(config), cal, out);
}

int hadamardGroupOrder(int count) {
    if (count >= 0 && count <= kMaxGroupMembers) return kGroupOrders[count];
    return computeGroupOrder(count < 0 ? 0 : count);
}

int computeMaxPatterns(const CalibrationCoefficients& cal, int startNm, int endNm,
                       uint8_t widthPixels, uint32_t scanType) {
    if (!wavelengthsInRange(startNm, endNm)) return 0;
    if (scanType > 1) return 0;
    double xs = 0.0;
    double xe = 0.0;
    if (nmToPixel(startNm, cal.pixelToNmCoeffs, &xs) != SpecStatus::Ok) return 0;
    if (nmToPixel(endNm, cal.pixelToNmCoeffs, &xe) != SpecStatus::Ok) return 0;
    const int widened = widthPixels + 2;
    if (scanType == 0)
        return maxColumnPatterns(xs, xe, widened, maxShiftOfRows(cal.rowShiftCoeffs));
    // The trial configurations carry the widened width in their 8-bit field.
    return maxHadamardPatterns(xs, xe, static_cast<uint8_t>(widened));
}

}  // namespace quillon
