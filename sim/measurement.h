// How the module turns a scan configuration into scan data: every pattern of a
// section gets a value, Column sections read each value on its own, Hadamard
// sections read the S-matrix sums of their groups, and the readings are laid
// out with dark readings between them. The simulated module measures with this
// code, and the tests use it to check that interpretation recovers the values.
//
// Readings are doubles until they are laid out as samples, where they are
// truncated toward zero; a pattern value v + 0.5 (v a whole number, v >= 0)
// therefore comes back from interpretation as exactly v, for Column sections
// and for Hadamard sections alike (a Hadamard reading sums (p + 1) / 2 such
// halves, a whole number, and the decoder truncates v + 0.5 plus rounding).
#pragma once

#include <cstdint>
#include <functional>

#include "serial/records.h"
#include "spectrum/geometry.h"
#include "spectrum/hadamard.h"

namespace quillon {

// One pattern as shown: where its band of columns lies and what it stands for.
struct PatternBand {
    int section;            // section of the configuration (0 in single form)
    int index;              // pattern number within the section
    uint16_t position;      // column position of the band
    uint16_t width;         // columns in the band
    uint16_t exposureTime;  // exposure setting of the section (0 in single form)
    double column;          // column its wavelength is taken at (patternColumn)
    double wavelengthNm;    // pixelToNm of that column
};

// The light a pattern lets through to the detector, in counts.
using PatternValueFn = std::function<double(const PatternBand&)>;

struct SectionReadings {
    int patternCount;  // patterns of the section
    int readingCount;  // readings they take: N for Column, the plan total for Hadamard
    double wavelengthNm[kMaxSamples];  // per pattern, as interpretation places it
    double value[kMaxSamples];         // per pattern
    double reading[kMaxSamples];       // in measurement order, darks not included
};

// Measures one section. 0; -2 a wavelength without position, more than 864
// patterns or readings, or a Hadamard order above 251; -1 a Hadamard section
// that cannot be grouped; -5 a type other than Column or Hadamard; -6 an order
// without a matrix.
SpecStatus measureSection(const ScanSection& section, int sectionIndex,
                          const CalibrationCoefficients& cal, const PatternValueFn& value,
                          SectionReadings& out);

// Lays readings out as samples: position i holds a dark reading when i + 1 is
// a multiple of `darkPeriod` (so the record's darkPatternFirst is
// darkPeriod - 1), every other position the next reading plus the dark level;
// a dark reading that directly follows the last reading is included. Samples
// are truncated toward zero. 0, or -2 for a period below 2, more than 864
// samples, or a layout that holds no dark reading at all.
SpecStatus layoutSamples(const double* readings, int readingCount, double darkLevel, int darkPeriod,
                         int32_t* samples /* [864] */, uint16_t& sampleCount);

// Optional hook between measuring and laying out: sees all readings of a scan
// in order (for instance to add noise).
using ReadingsHook = std::function<void(double* readings, int count)>;

// A whole scan data record for `config`: whole form for a single-form
// configuration, split form for a sectioned one (scanType 2). The head gets
// version 1, the calibration and the dark layout; its other members are 0 for
// the caller to fill. 0, the codes of measureSection and layoutSamples, -2 for
// more than 5 sections, or -3 when working memory cannot be obtained.
// Hadamard groups are measured with `matrices`, or with the table in use.
SpecStatus synthesizeScanData(const ScanConfig& config, const CalibrationCoefficients& cal,
                              const PatternValueFn& value, double darkLevel, int darkPeriod,
                              ScanDataRecord& record, const ReadingsHook& hook = {},
                              const HadamardMatrixSet* matrices = nullptr);

}  // namespace quillon
