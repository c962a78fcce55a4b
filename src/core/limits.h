// The module's limits, the same wherever they are enforced or reported.
#pragma once

#include <cstddef>

namespace quillon {

// Patterns of one configuration: the sum over its sections, a Hadamard
// section counting the total of its pattern plan.
constexpr int kMinPatterns = 2;
constexpr int kMaxPatterns = 624;

// Wavelengths a section may span, start not above end.
constexpr int kMinWavelengthNm = 900;
constexpr int kMaxWavelengthNm = 1700;

constexpr int kMaxSections = 5;           // per configuration
constexpr size_t kMaxStoredConfigs = 20;  // on the module

// The fixed tables: scan types, pattern widths (entry i is i + 2 pixels) and
// exposure times (entry i is exposure setting i).
constexpr int kScanTypeCount = 2;
constexpr int kMinWidthPixels = 2;
constexpr int kWidthTableSize = 51;
constexpr int kExposureTableSize = 7;

constexpr bool wavelengthsInRange(int startNm, int endNm) {
    return startNm >= kMinWavelengthNm && endNm <= kMaxWavelengthNm && startNm <= endNm;
}

}  // namespace quillon
