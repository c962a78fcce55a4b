// The S-matrix table that scans are decoded with: the built-in one, or the
// one in the file that QUILLONLIB_HADAMARD_TABLE names, read when the first
// scan with a Hadamard section is decoded.
#pragma once

#include "core/module.h"

namespace quillon {

// Gives the module its table when the active configuration has a Hadamard
// section: the file is read once per process; a refused file is logged and
// leaves the built-in table.
void prepareHadamardTable(Module& module);

}  // namespace quillon
