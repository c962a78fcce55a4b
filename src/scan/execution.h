// Running one scan on the open module and reading its data image back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/session.h"

namespace quillon {

// A scan is given up after three times the module's estimate, but never later
// than this: an absurd estimate must not block the host for months.
constexpr int64_t kMaxScanWaitMs = 30LL * 60 * 1000;
constexpr int kStatusPollMs = 50;
constexpr uint32_t kScanRunningBit = 0x2;

// Scans with the active configuration and reads the image into `image`
// (capacity bytes, cleared first). On success `length` is the image size.
bool performScanReadData(SpectrometerSession& session, uint8_t* image, size_t capacity,
                         uint32_t& length);

int setSpectrumAverageTimeOp(SpectrometerSession& session, uint16_t count);

}  // namespace quillon
