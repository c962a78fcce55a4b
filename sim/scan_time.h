// How long the simulated module says a scan takes: a fixed overhead plus, for
// every repeat and every averaged scan, each pattern's exposure and settling.
#pragma once

#include <cstdint>

#include "serial/records.h"

namespace quillon::sim {

uint32_t estimatedScanTimeMs(const ScanConfig& config, uint16_t averageCount);

}  // namespace quillon::sim
