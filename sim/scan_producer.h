// Where the simulated module's scan data comes from. START_SCAN hands the
// producer what the module knows at that moment; the producer returns the scan
// data record image that READ_SCAN_DATA_SIZE and READ_SCAN_DATA_CHUNK serve.
// Swapping the producer changes what is measured without touching the wire.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "serial/records.h"

namespace quillon::sim {

struct ScanContext {
    ScanConfig config;  // the active configuration, decoded
    CalibrationCoefficients calibration;
    uint16_t averageCount;
    bool lampOn;
    uint32_t scanNumber;  // 1 for the module's first scan, then counting up
};

// An empty result means the module could not scan (START_SCAN is refused).
using ScanProducer = std::function<std::vector<uint8_t>(const ScanContext&)>;

// A well-formed image with every detector reading 0: whole form for a single-
// form configuration, split form for a sectioned one.
std::vector<uint8_t> produceBlankScan(const ScanContext& context);

// The producer new modules start with.
ScanProducer defaultScanProducer();

}  // namespace quillon::sim
