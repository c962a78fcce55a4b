// Records that cross the link as record images: configurations, calibration
// coefficients and scan data, as every layer holds them. They are laid out
// exactly as the record image mapping places their members (natural
// alignment, no packing), so the image library can map them directly; the
// static_asserts pin every offset.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/limits.h"

namespace quillon {

struct CalibrationCoefficients {
    double rowShiftCoeffs[3];   // c0, c1, c2: column shift of row y
    double pixelToNmCoeffs[3];  // a0, a1, a2: wavelength at column x
};
static_assert(sizeof(CalibrationCoefficients) == 48);

struct ScanSection {
    uint8_t sectionScanType;  // 0 Column, 1 Hadamard
    uint8_t widthPixels;
    uint16_t wavelengthStartNm;
    uint16_t wavelengthEndNm;
    uint16_t numPatterns;
    uint16_t exposureTime;  // position in the exposure time table
};
static_assert(sizeof(ScanSection) == 10);

constexpr int kConfigNameSize = 40;
constexpr uint8_t kSectionedScanType = 2;

// Fields of a single-form configuration that follow the common head.
struct SingleFormTail {
    uint16_t wavelengthStartNm;  // 52
    uint16_t wavelengthEndNm;    // 54
    uint8_t widthPixels;         // 56
    uint8_t pad57;
    uint16_t numPatterns;  // 58
    uint16_t numRepeats;   // 60
};

// Fields of a sectioned configuration that follow the common head.
struct SectionedFormTail {
    uint16_t numRepeats;  // 52
    uint8_t numSections;  // 54
    uint8_t pad55;
    ScanSection sections[kMaxSections];  // 56..105
};

// A stored scan configuration as decoded: sectioned form when scanType is 2,
// single form (one section folded into the head) otherwise.
struct ScanConfig {
    uint8_t scanType;
    uint8_t pad1;
    uint16_t configIndex;
    uint8_t configBytes8[8];
    char configName[kConfigNameSize];
    union {
        SectionedFormTail sectioned;
        SingleFormTail single;
    };
};
static_assert(sizeof(ScanConfig) == 106);
static_assert(offsetof(ScanConfig, configName) == 12);
static_assert(offsetof(ScanConfig, sectioned) == 52);

// Scan data, whole form: head, single-form configuration, samples.
struct ScanDataWhole {
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
    uint16_t sampleCount;
    uint8_t darkPatternFirst;
    uint8_t darkPatternPeriod;
    uint8_t hdrLastByte;
    // single-form configuration
    uint8_t scanType;  // 109
    uint16_t configIndex;
    uint8_t configBytes8[8];
    char configName[kConfigNameSize];
    uint16_t wavelengthStartNm;
    uint16_t wavelengthEndNm;
    uint8_t widthPixels;
    uint16_t numPatterns;
    uint16_t numRepeats;
    int32_t samples[864];
};

// Scan data, split form: head, sectioned configuration, samples.
struct ScanDataSplit {
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
    uint16_t sampleCount;
    uint8_t darkPatternFirst;
    uint8_t darkPatternPeriod;
    uint8_t hdrLastByte;
    uint8_t pad109;
    uint8_t scanType;  // 110, always 2
    uint16_t configIndex;
    uint8_t configBytes8[8];
    char configName[kConfigNameSize];
    uint16_t numRepeats;
    uint8_t numSections;
    ScanSection sections[kMaxSections];
    int32_t samples[864];
};

constexpr int kMaxSamples = 864;
constexpr size_t kScanDataBufferSize = 3822;

static_assert(offsetof(ScanDataWhole, hdrSigned1) == 32);
static_assert(offsetof(ScanDataWhole, calibration) == 48);
static_assert(offsetof(ScanDataWhole, sampleCount) == 104);
static_assert(offsetof(ScanDataWhole, hdrLastByte) == 108);
static_assert(offsetof(ScanDataWhole, scanType) == 109);
static_assert(offsetof(ScanDataWhole, configIndex) == 110);
static_assert(offsetof(ScanDataWhole, configName) == 120);
static_assert(offsetof(ScanDataWhole, wavelengthStartNm) == 160);
static_assert(offsetof(ScanDataWhole, widthPixels) == 164);
static_assert(offsetof(ScanDataWhole, numPatterns) == 166);
static_assert(offsetof(ScanDataWhole, numRepeats) == 168);
static_assert(offsetof(ScanDataWhole, samples) == 172);
static_assert(offsetof(ScanDataSplit, scanType) == 110);
static_assert(offsetof(ScanDataSplit, configIndex) == 112);
static_assert(offsetof(ScanDataSplit, configName) == 122);
static_assert(offsetof(ScanDataSplit, numRepeats) == 162);
static_assert(offsetof(ScanDataSplit, numSections) == 164);
static_assert(offsetof(ScanDataSplit, sections) == 166);
static_assert(offsetof(ScanDataSplit, samples) == 216);

enum class ScanDataForm { Whole, Split };

// A decoded scan data record: which form the image had, and its values.
struct ScanDataRecord {
    ScanDataForm form;
    union {
        ScanDataWhole whole;
        ScanDataSplit split;
    };
};

}  // namespace quillon
