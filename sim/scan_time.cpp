#include "sim/scan_time.h"

#include "config/table_values.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace quillon::sim {
namespace {

constexpr double kSettleMs = 0.9;
constexpr double kOverheadMs = 120.0;

double patternMs(uint16_t exposure) {
    return exposureMsOf(exposure) + kSettleMs;
}

}  // namespace

uint32_t estimatedScanTimeMs(const ScanConfig& config, uint16_t averageCount) {
    double perScan = 0.0;
    uint16_t repeats = 0;
    if (config.scanType == kSectionedScanType) {
        const int sections = std::min<int>(config.sectioned.numSections, kMaxSections);
        for (int s = 0; s < sections; ++s) {
            const ScanSection& section = config.sectioned.sections[s];
            perScan += section.numPatterns * patternMs(section.exposureTime);
        }
        repeats = config.sectioned.numRepeats;
    } else {
        perScan = config.single.numPatterns * patternMs(0);  // single form: shortest exposure
        repeats = config.single.numRepeats;
    }
    const double scans = std::max<uint16_t>(repeats, 1) * std::max<uint16_t>(averageCount, 1);
    return static_cast<uint32_t>(std::ceil(kOverheadMs + scans * perScan));
}

}  // namespace quillon::sim
