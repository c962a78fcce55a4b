// Running one scan on the open module and reading its data image back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/module.h"

namespace quillon {

// A scan is given up after three times the module's estimate, but never later
// than this: an absurd estimate must not block the host for months.
constexpr int64_t kMaxScanWaitMs = 30LL * 60 * 1000;
constexpr int kStatusPollMs = 50;
// How often a wait looks at the module's cancel flag.
constexpr int kCancelCheckMs = 5;
constexpr uint32_t kScanRunningBit = 0x2;

// Scans with the active configuration and reads the image into `image`
// (capacity bytes, cleared first). On success `length` is the image size.
// A cancel asked for meanwhile ends it with Kind::Cancelled, the module left
// to finish on its own (see awaitEarlierScan).
Outcome performScanReadData(Module& module, uint8_t* image, size_t capacity, uint32_t& length);

// A scan given up earlier may still run, and the module takes nothing for a
// new one until it is done: its status is polled (for as long as a scan may
// take, or until cancelled) first. Ok at once when no scan was given up.
Outcome awaitEarlierScan(Module& module);

Outcome setSpectrumAverageTimeOp(Module& module, uint16_t count);

}  // namespace quillon
