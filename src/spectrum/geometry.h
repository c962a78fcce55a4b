// Wavelength calibration and pattern geometry: column position <-> wavelength,
// row shifts, where a section's patterns lie, how a Hadamard section is grouped,
// and how many patterns a range admits.
#pragma once

#include <cstdint>

#include "serial/records.h"

namespace quillon {

// Status codes of the spectrum computation.
constexpr int kSpecOk = 0;
constexpr int kSpecNoSolution = -1;
constexpr int kSpecOutOfRange = -2;
constexpr int kSpecNoMemory = -3;
constexpr int kSpecUndecodable = -4;  // the record image does not decode
constexpr int kSpecUnsupportedSection = -5;
constexpr int kSpecMissingArgument = -6;

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
int nmToPixel(double nm, const double* pixelToNmCoeffs, double* x);

// 0, or -6 when an argument is missing.
int computeRowShifts(const double* rowShiftCoeffs, int8_t* shifts /* [480] */);

// Positions of a section's patterns. 0; -2 when a wavelength has no position
// or the pattern count exceeds kMaxPatternPositions.
int computeSectionPositions(const ScanSection& section, const CalibrationCoefficients& cal,
                            PatternPositions& out);
// `config` is read in single form (start, end, width, pattern count).
int computePatternPositions(const ScanConfig& config, const CalibrationCoefficients& cal,
                            PatternPositions& out);

// Groups a Hadamard section. 0; -1 no group count from 1 to 15 works; -2 as
// for the positions, or a group would exceed kMaxGroupMembers. `out` is only
// written on 0.
int planHadamardSection(const ScanSection& section, const CalibrationCoefficients& cal,
                        HadamardPlan& out);
// `config` is read in single form.
int planHadamardGroups(const ScanConfig& config, const CalibrationCoefficients& cal,
                       HadamardPlan& out);

// S-matrix order used for a group of `count` patterns: the smallest prime
// p >= count with p mod 4 == 3 (3 for up to 3 patterns).
int hadamardGroupOrder(int count);

// Largest pattern count the range admits for the width and scan type; 0 when
// none does or the range has no pixel positions.
int computeMaxPatterns(const CalibrationCoefficients& cal, int startNm, int endNm,
                       uint8_t widthPixels, uint32_t scanType);

}  // namespace quillon
