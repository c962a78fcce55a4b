// Scan data interpretation: a scan data record image becomes wavelengths and
// dark-corrected intensities, Column sections directly, Hadamard sections
// through their S-matrices.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/records.h"
#include "spectrum/geometry.h"

namespace quillon {

struct ScanResults {
    // head, copied from the record
    uint32_t headerVersion;
    char scanName[20];
    uint8_t hdrBytes7[7];
    int16_t hdrSigned1;
    int16_t hdrSigned2;
    uint16_t hdrUnsigned1;
    uint16_t hdrUnsigned2;
    uint32_t hdrWord;
    CalibrationCoefficients calibration;
    uint8_t hdrBytes8[8];
    uint8_t hdrLastByte;
    // configuration, always in sectioned form
    ScanConfig config;
    double wavelengthNm[kMaxSamples];
    int32_t intensity[kMaxSamples];
    int32_t length;
};

// Interprets `size` bytes (at most 3822 are read) of a scan data image. 0 or a
// negative code; on failure `results` is left as it was.
SpecStatus interpretScanData(const uint8_t* image, size_t size, ScanResults& results);

// Interprets a decoded scan data record, whole or split form. 0; -1 header
// version not 1; -2 out of range (bad whole-form type, wavelength without a
// position, Hadamard order above 251, dark period 0, more samples or points
// than the record holds); -3 no memory; -5 unsupported section type; -6 order
// without a matrix; -1 or -2 from planning a Hadamard section. On failure
// `results` is left as it was.
SpecStatus interpretScanRecord(const ScanDataRecord& record, ScanResults& results);

// The steps of an interpretation. They fill `results` as they go, so after a
// failure it is partly written.

// Dark level: the truncated mean of the dark samples among the first
// sampleCount (0 without any); every other sample, less that level, becomes
// the next intensity. 0, or -2 for a dark period of 0 or more than 864 samples.
SpecStatus removeDarkLevel(const ScanDataWhole& record, ScanResults& results);

// Head and configuration of the results, from either form.
void copyResultHeader(const ScanDataWhole& record, ScanResults& results);
void copyResultHeader(const ScanDataSplit& record, ScanResults& results);

// One section in whole form. Column keeps at most numPatterns points.
SpecStatus interpretColumnScan(const ScanDataWhole& record, ScanResults& results);
SpecStatus interpretHadamardScan(const ScanDataWhole& record, ScanResults& results);

// Cuts section `section` out of a split-form record, dark readings with it.
// 0; -2 section out of range, dark period below 2, or the sections need more
// samples than the record holds; -5 a section of unknown type on the way;
// -1/-2 a Hadamard section on the way that cannot be planned.
SpecStatus extractScanSection(const ScanDataSplit& record, int section, ScanDataWhole& out);

SpecStatus interpretSectionedScan(const ScanDataSplit& record, ScanResults& results);

}  // namespace quillon
