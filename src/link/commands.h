// The device commands the library sends, each with its code, data and reply
// decoding. Read commands return the exchange's result (positive on success)
// and store decoded values only on success; a reply too short for its values,
// or whose size field runs past it, gives kLinkFlag4. Write commands return -1
// when the request could not be sent, otherwise what readStatus returns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/records.h"

namespace quillon::link {

// The largest configuration image WRITE_SCAN_CONFIG can carry (message bytes 9..191).
constexpr size_t kMaxWrittenConfigImage = 183;

int readVersions(uint32_t words[7]);
int readActiveScanIndex(uint8_t& index);
int setActiveScanIndexCommand(uint8_t index);
int readEstimatedScanTime(uint32_t& milliseconds);
int lampOffControl(uint8_t off);  // 1 when switching off, 0 when switching on
int lampOnControl(uint8_t on);    // 1 when switching on (sent twice), 0 when switching off
// Decodes the calibration record; a reply that does not decode leaves `cal` untouched
// and gives kLinkFlag4.
int readCalibrationCoefficients(CalibrationCoefficients& cal);
int readScanConfigCount(uint8_t& count);
// Copies the configuration image (its announced size N must fit the reply and
// the capacity) into `image` and stores N. Positive on success.
int readScanConfig(uint32_t index, uint8_t* image, size_t capacity, size_t& imageSize);
int eraseScanConfigs();
// Always announces length 128 and sends message bytes 0..191; an image longer
// than kMaxWrittenConfigImage is not sent (-1).
int writeScanConfig(uint8_t position, const uint8_t* image, size_t imageSize);
int setAverageCount(uint16_t count);
int preScanSetting();  // 0 when the module answered status 0, 1 otherwise
int startScan();
int readDeviceStatus(uint32_t& status);
int readScanDataSize(uint32_t& size);
// Copies the next piece (at most capacity bytes) and stores its length. Positive on success.
int readScanDataChunk(uint8_t* piece, size_t capacity, size_t& pieceLength);

}  // namespace quillon::link
