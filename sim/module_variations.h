// How a simulated module may differ from the default one, chosen through the
// environment of the process it runs in:
//   QUILLONLIB_SIMULATOR_HADAMARD_SEED=N  S-matrices of orders 19 to 251 with
//       column permutations drawn from N (orders 3, 7 and 11 as built in), as
//       a module whose table differs from the library's would have;
//   QUILLONLIB_SIMULATOR_NOISE=SIGMA      additive detector noise of SIGMA
//       counts per reading, the same sequence in every run.
#pragma once

#include <cstdint>

#include "sim/synthetic_spectrum.h"
#include "spectrum/hadamard.h"

namespace quillon::sim {

// The permutations a module with table seed `seed` uses: a list for every
// stored order from 19 on, each a valid non-cyclic S-matrix permutation.
HadamardColumns seededHadamardColumns(uint32_t seed);

// The producer options the environment asks for.
SyntheticOptions syntheticOptionsFromEnvironment();

}  // namespace quillon::sim
