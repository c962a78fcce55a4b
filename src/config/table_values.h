// The constant values behind the fixed tables, for code that needs them
// without building (and logging) a table: the simulated module's timing and
// light, and the check whether a stored section can be shown to the caller.
#pragma once

#include <algorithm>
#include <iterator>

#include "serial/records.h"

namespace quillon {

constexpr int kScanTypeCount = 2;
constexpr int kWidthTableSize = 51;  // widths of 2 to 52 pixels
constexpr double kExposureTimesMs[] = {0.635, 1.27, 2.54, 5.08, 15.24, 30.48, 60.96};
constexpr int kExposureTableSize = static_cast<int>(std::size(kExposureTimesMs));

// The exposure time of a setting; settings past the table take its last time.
constexpr double exposureMsOf(int setting) {
    return kExposureTimesMs[std::clamp(setting, 0, kExposureTableSize - 1)];
}

// Whether every stored index of a section lies inside its table.
constexpr bool sectionInTables(const ScanSection& section) {
    const int widthIndex = section.widthPixels - 2;
    return section.sectionScanType < kScanTypeCount && widthIndex >= 0 &&
           widthIndex < kWidthTableSize && section.exposureTime < kExposureTableSize;
}

}  // namespace quillon
