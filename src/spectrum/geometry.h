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
constexpr int kSpecUnsupportedSection = -5;
constexpr int kSpecMissingArgument = -6;

constexpr int kColumnCount = 854;  // column positions 0..853
constexpr int kRowCount = 480;
constexpr int kMaxGroupMembers = 284;
constexpr int kMaxGroups = 15;
constexpr int kMaxPatternsPerConfig = 624;

struct PatternPositions {
    uint16_t count;
    uint16_t width;
    uint16_t position[kMaxPatternsPerConfig + 256];  // room for any uint16 count is checked
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
int nmToPixel(double nm, const double* pixelToNmCoeffs, double* x);
int computeRowShifts(const double* rowShiftCoeffs, int8_t* shifts /* [480] */);
// `config` is read in single form (start, end, width, pattern count).
int computePatternPositions(const ScanConfig& config, const CalibrationCoefficients& cal,
                            PatternPositions& out);
int planHadamardGroups(const ScanConfig& config, const CalibrationCoefficients& cal,
                       HadamardPlan& out);
int computeMaxPatterns(const CalibrationCoefficients& cal, const char* name, int startNm,
                       int endNm, uint8_t widthPixels, uint32_t scanType, uint8_t spare);

}  // namespace quillon
