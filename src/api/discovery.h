// Finding, opening and closing a module, and the small module operations that
// stand directly behind single exports.
#pragma once

#include <cstdint>

#include "core/session.h"
#include "link/hid_layer.h"

namespace quillon {

// Finds modules through `hid` (null: no HID layer could be loaded); the module
// chosen by openSpectrometerOp is opened through the same layer.
int enumerateDevicesOp(SpectrometerSession& session, const link::HidLayer* hid,
                       unsigned int* count);
int openSpectrometerOp(SpectrometerSession& session, int index);
void closeSpectrometerOp(SpectrometerSession& session);
int getVersionsOp(uint32_t* const destinations[7]);
int getActiveScanIndexOp(SpectrometerSession& session, int* index);
int setActiveScanIndexOp(SpectrometerSession& session, uint8_t index);
int setLampStatusOp(SpectrometerSession& session, int on);
int getEstimatedScanTimeOp();

}  // namespace quillon
