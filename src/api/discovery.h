// Finding, opening and closing modules, and the small module operations that
// stand directly behind single exports. Each returns what happened as an
// Outcome; only the export wrapper turns it into the last failure code.
#pragma once

#include <cstdint>
#include <vector>

#include "core/session.h"
#include "link/hid_layer.h"

namespace quillon {

// The modules `hid` lists (vendor and product of the module), in its order.
// False when there is no HID layer or it cannot start.
bool listModules(const link::HidLayer* hid, std::vector<FoundModule>& found);

// The exports' enumeration into the session's found list; the module chosen
// by openSpectrometerOp is opened through the same layer.
Outcome enumerateDevicesOp(SpectrometerSession& session, const link::HidLayer* hid,
                           unsigned int* count);
Outcome openSpectrometerOp(SpectrometerSession& session, int index);
void closeSpectrometerOp(Module& module);

// Opens the module at `path` through `hid` onto `module` (which has no module
// open), holding it first, and reads its calibration and configurations.
Outcome openModuleAtPath(Module& module, const link::HidLayer& hid, const std::string& path);
// Closes the module's link and releases the hold.
void closeModuleLink(Module& module);

Outcome getVersionsOp(Module& module, uint32_t* const destinations[7]);
Outcome getActiveScanIndexOp(Module& module, int* index);
Outcome setActiveScanIndexOp(Module& module, uint8_t index);
Outcome setLampStatusOp(Module& module, int on);
// `result`: the estimate in milliseconds, or the link's (not positive) result.
Outcome getEstimatedScanTimeOp(Module& module, int& result);

}  // namespace quillon
