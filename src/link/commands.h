// The device commands the library sends, each with its code, data and reply
// decoding. Read commands return the exchange's result (positive on success)
// and store decoded values only on success; a reply too short for its values,
// or whose size field runs past it, gives kLinkFlag4. Write commands return -1
// when the request could not be sent, otherwise what readStatus returns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/link_state.h"
#include "serial/records.h"

namespace quillon::link {

// The largest configuration image WRITE_SCAN_CONFIG can carry (message bytes 9..191).
constexpr size_t kMaxWrittenConfigImage = 183;

int readVersions(LinkState& link, uint32_t words[7]);
int readActiveScanIndex(LinkState& link, uint8_t& index);
int setActiveScanIndexCommand(LinkState& link, uint8_t index);
int readEstimatedScanTime(LinkState& link, uint32_t& milliseconds);
int lampOffControl(LinkState& link, uint8_t off);  // 1 when switching off, 0 when switching on
int lampOnControl(LinkState& link,
                  uint8_t on);  // 1 when switching on (sent twice), 0 when switching off
// Decodes the calibration record; a reply that does not decode leaves `cal` untouched
// and gives kLinkFlag4.
int readCalibrationCoefficients(LinkState& link, CalibrationCoefficients& cal);
int readScanConfigCount(LinkState& link, uint8_t& count);
// Copies the configuration image (its announced size N must fit the reply and
// the capacity) into `image` and stores N. Positive on success.
int readScanConfig(LinkState& link, uint32_t index, uint8_t* image, size_t capacity,
                   size_t& imageSize);
int eraseScanConfigs(LinkState& link);
// Always announces length 128 and sends message bytes 0..191; an image longer
// than kMaxWrittenConfigImage is not sent (-1).
int writeScanConfig(LinkState& link, uint8_t position, const uint8_t* image, size_t imageSize);
int setAverageCount(LinkState& link, uint16_t count);
int preScanSetting(LinkState& link);  // 0 when the module answered status 0, 1 otherwise
int startScan(LinkState& link);
int readDeviceStatus(LinkState& link, uint32_t& status);
int readScanDataSize(LinkState& link, uint32_t& size);
// Copies the next piece (at most capacity bytes) and stores its length. Positive on success.
int readScanDataChunk(LinkState& link, uint8_t* piece, size_t capacity, size_t& pieceLength);

}  // namespace quillon::link
