// Storing the host's list of configurations on the module: erase, write each
// configuration at its position, and tell the module its active index again.
#pragma once

#include <deque>

#include "core/module.h"

namespace quillon {

// Ok when every configuration was stored; otherwise what stopped the save
// (the module may then hold only part of `configs`).
Outcome exportTargetList(Module& module, const std::deque<ScanConfig>& configs,
                         uint8_t activeIndex);

}  // namespace quillon
