// Reading the module's calibration and every stored configuration into both
// views of the session, when a module is opened.
#pragma once

#include "core/session.h"

namespace quillon {

constexpr size_t kConfigWorkBufferSize = 512;

// True when the configurations were read and the views rebuilt.
bool getScanSection(SpectrometerSession& session);

// Rebuilds the caller's view (targetConfigs) from the stored records.
void rebuildTargetConfigs(SpectrometerSession& session);

}  // namespace quillon
