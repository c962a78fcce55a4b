// Storing the host's list of configurations on the module: erase, write each
// configuration at its position, and tell the module its active index again.
#pragma once

#include <deque>

#include "core/session.h"

namespace quillon {

// 0 when every configuration was stored; -4 when an image size cannot be
// computed; -1 when a configuration could not be serialized or stored.
int exportTargetList(SpectrometerSession& session, const std::deque<ScanConfig>& configs,
                     uint8_t activeIndex);

}  // namespace quillon
