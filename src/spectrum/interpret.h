// Scan data interpretation: a scan data record image becomes wavelengths and
// dark-corrected intensities, Column sections directly, Hadamard sections
// through their S-matrices.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/records.h"

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

// Interprets `size` bytes (at most 3822) of a scan data image. 0 or a negative
// code; `results` is only meaningful on 0.
int interpretScanData(const uint8_t* image, size_t size, ScanResults& results);

}  // namespace quillon
