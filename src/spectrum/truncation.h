// Conversions of computed values to the 32-bit integers that records carry.
#pragma once

#include <cstdint>

namespace quillon {

// Truncation toward zero; values beyond the 32-bit range saturate and NaN
// gives 0, so no computed value turns into an undefined conversion.
inline int32_t truncateToInt32(double x) {
    if (x != x) return 0;
    if (x <= -2147483648.0) return INT32_MIN;
    if (x >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(x);
}

}  // namespace quillon
