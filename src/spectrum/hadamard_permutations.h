// The data behind the S-matrix table: one column permutation per stored order.
#pragma once

#include <cstdint>

namespace quillon {

constexpr int kHadamardOrderCount = 29;

struct HadamardPermutation {
    uint16_t order;          // p, a prime with p mod 4 == 3, 3..251
    const uint8_t* columns;  // p entries, a permutation of 0..p-1
};

// Sorted by order.
extern const HadamardPermutation kHadamardPermutations[kHadamardOrderCount];

}  // namespace quillon
