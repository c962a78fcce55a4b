// The glue that turns the records crossing the link into record images and
// back (the records themselves: core/record_types.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/record_types.h"

namespace quillon {

// Record kinds: the format strings of the images (number 3 is not assigned).
enum RecordKind : int {
    kScanDataWhole = 0,
    kScanConfigSingle = 1,
    kCalibrationRecord = 2,
    kScanConfigHead = 4,
    kScanSectionList = 5,
    kScanDataHead = 6,
    kScanAdcData = 7,
};

// What the record glue's operations come to.
enum class RecordStatus { Ok, BufferTooSmall, SerializationFailed, MissingPointer };

// Image sizes of the record kinds (constants of the formats).
constexpr size_t kScanDataWholeImageSize = 3701;
constexpr size_t kScanConfigSingleImageSize = 91;
constexpr size_t kCalibrationImageSize = 72;
constexpr size_t kScanConfigHeadImageSize = 82;
constexpr size_t kScanSectionListImageSize = 73;
constexpr size_t kScanDataHeadImageSize = 160;
constexpr size_t kScanAdcDataImageSize = 3471;
constexpr size_t kSectionedConfigImageSize = kScanConfigHeadImageSize + kScanSectionListImageSize;
constexpr size_t kScanDataSplitImageSize = kScanDataHeadImageSize + kScanConfigHeadImageSize +
                                           kScanSectionListImageSize +
                                           kScanAdcDataImageSize;  // 3786

// Format string of a record kind, or nullptr for an unassigned kind.
const char* recordFormat(int kind);

// Image size of a configuration as it would be encoded (91 or 155).
RecordStatus scanConfigImageSize(const ScanConfig& config, size_t& size);

// Encodes a configuration into buffer (sectioned: 82 + 73 bytes; single: 91).
// BufferTooSmall leaves the buffer unwritten; MissingPointer: a null buffer.
RecordStatus encodeScanConfig(const ScanConfig& config, uint8_t* buffer, size_t size);

// Decodes a configuration image of `size` bytes into config.
RecordStatus decodeScanConfig(const uint8_t* buffer, size_t size, ScanConfig& config);

// Encodes/decodes calibration coefficients (72-byte image; decode tolerates excess bytes).
RecordStatus encodeCalibration(const CalibrationCoefficients& cal, uint8_t* buffer, size_t size);
RecordStatus decodeCalibration(const uint8_t* buffer, size_t size, CalibrationCoefficients& cal);

// Decodes a scan data image held in a 3822-byte buffer, whole or split form.
// Only `size` bytes of buffer are read (size <= 3822).
RecordStatus decodeScanData(const uint8_t* buffer, size_t size, ScanDataRecord& record);

// Encodes scan data as the module does: whole form (3701 bytes) or split form
// (four images, 3786 bytes); `written` receives the byte count.
RecordStatus encodeScanDataWhole(const ScanDataWhole& record, uint8_t* buffer, size_t size,
                                 size_t& written);
RecordStatus encodeScanDataSplit(const ScanDataSplit& record, uint8_t* buffer, size_t size,
                                 size_t& written);

// Length of a configuration name: bytes up to the first NUL, at most 40.
size_t configNameLength(const char (&name)[kConfigNameSize]);

}  // namespace quillon
