// The S-matrix table that scans are decoded with: the built-in one, or the
// one in the file that QUILLONLIB_HADAMARD_TABLE names, read when the first
// scan with a Hadamard section is decoded.
#pragma once

#include "core/session.h"

namespace quillon {

// Reads the file once per process when the active configuration has a
// Hadamard section; a refused file is logged and leaves the built-in table.
void prepareHadamardTable(SpectrometerSession& session);

}  // namespace quillon
