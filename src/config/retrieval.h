// Reading the module's calibration and every stored configuration into both
// views of the module, when a module is opened.
#pragma once

#include "core/module.h"

namespace quillon {

constexpr size_t kConfigWorkBufferSize = 512;

// Ok when the configurations were read and the views rebuilt; NoConfiguration
// when the module answered that it stores none.
Outcome getScanSection(Module& module);

// Rebuilds the caller's view (targetConfigs) from the stored records.
void rebuildTargetConfigs(Module& module);

}  // namespace quillon
