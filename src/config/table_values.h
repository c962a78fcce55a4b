// The constant values behind the fixed tables, for code that needs them
// without building (and logging) a table: the simulated module's timing and
// light, and the check whether a stored section can be shown to the caller.
#pragma once

#include <algorithm>
#include <iterator>

#include "core/limits.h"
#include "serial/records.h"

namespace quillon {

constexpr double kExposureTimesMs[] = {0.635, 1.27, 2.54, 5.08, 15.24, 30.48, 60.96};
static_assert(std::size(kExposureTimesMs) == kExposureTableSize);

// The exposure time of a setting; settings past the table take its last time.
constexpr double exposureMsOf(int setting) {
    return kExposureTimesMs[std::clamp(setting, 0, kExposureTableSize - 1)];
}

// Whether every stored index of a section lies inside its table.
constexpr bool sectionInTables(const ScanSection& section) {
    const int widthIndex = section.widthPixels - kMinWidthPixels;
    return section.sectionScanType < kScanTypeCount && widthIndex >= 0 &&
           widthIndex < kWidthTableSize && section.exposureTime < kExposureTableSize;
}

}  // namespace quillon
