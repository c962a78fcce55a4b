// Wavelength calibration and pattern geometry: column position <-> wavelength,
// row shifts, where a section's patterns lie, how a Hadamard section is grouped,
// and how many patterns a range admits.
#pragma once

#include <cstdint>

#include "serial/records.h"

namespace quillon {

// What the spectrum computation's operations come to.
enum class SpecStatus {
    Ok,
    NoSolution,  // no root in range, no group count that works, a wrong record version
    OutOfRange,  // a wavelength without position, too many patterns, a degenerate polynomial
    NoMemory,
    Undecodable,         // the record image does not decode
    UnsupportedSection,  // a section type other than Column or Hadamard
    MissingArgument,
};

constexpr int kColumnCount = 854;  // column positions 0..853
constexpr int kRowCount = 480;
constexpr int kMaxGroupMembers = 284;
constexpr int kMaxGroups = 15;
// Patterns one section may place; larger counts are refused, never written past.
constexpr int kMaxPatternPositions = kMaxPatterns + 256;

struct PatternPositions {
    uint16_t count;
    uint16_t width;
    uint16_t position[kMaxPatternPositions];
};

struct PatternGroup {
    uint16_t count;
    uint16_t order;
    uint16_t patternIndex[kMaxGroupMembers];
    uint16_t position[kMaxGroupMembers];
};

struct HadamardPlan {
    uint16_t total;
    uint16_t width;
    uint8_t groupCount;
    PatternGroup groups[kMaxGroups];
};

double pixelToNm(double x, const double pixelToNmCoeffs[3]);

// The column a pattern's wavelength is taken at: its position for an odd
// width, half a column lower for an even one.
inline double patternColumn(uint16_t position, unsigned width) {
    return (width % 2 != 0) ? static_cast<double>(position) : position - 0.5;
}

// The first `count` positions of n patterns spread evenly from column xs to
// xe. The step is added again and again rather than multiplied, which decides
// where truncation lands.
void spreadPositions(double xs, double xe, int n, int count, uint16_t* position);

// 0 with *x set; -1 no root inside 0..853; -2 degenerate polynomial; -6 missing pointer.
SpecStatus nmToPixel(double nm, const double* pixelToNmCoeffs, double* x);

// 0, or -6 when an argument is missing.
SpecStatus computeRowShifts(const double* rowShiftCoeffs, int8_t* shifts /* [480] */);

// Positions of a section's patterns. 0; -2 when a wavelength has no position
// or the pattern count exceeds kMaxPatternPositions.
SpecStatus computeSectionPositions(const ScanSection& section, const CalibrationCoefficients& cal,
                                   PatternPositions& out);
// `config` is read in single form (start, end, width, pattern count).
SpecStatus computePatternPositions(const ScanConfig& config, const CalibrationCoefficients& cal,
                                   PatternPositions& out);

// Groups a Hadamard section. 0; -1 no group count from 1 to 15 works; -2 as
// for the positions, or a group would exceed kMaxGroupMembers. `out` is only
// written on 0.
SpecStatus planHadamardSection(const ScanSection& section, const CalibrationCoefficients& cal,
                               HadamardPlan& out);
// `config` is read in single form.
SpecStatus planHadamardGroups(const ScanConfig& config, const CalibrationCoefficients& cal,
                              HadamardPlan& out);

// S-matrix order used for a group of `count` patterns: the smallest prime
// p >= count with p mod 4 == 3 (3 for up to 3 patterns).
int hadamardGroupOrder(int count);

// Largest pattern count the range admits for the width and scan type; 0 when
// none does or the range has no pixel positions.
int computeMaxPatterns(const CalibrationCoefficients& cal, int startNm, int endNm,
                       uint8_t widthPixels, uint32_t scanType);

}  // namespace quillon
