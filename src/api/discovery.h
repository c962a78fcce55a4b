// Finding, opening and closing a module, and the small module operations that
// stand directly behind single exports.
#pragma once

#include <cstdint>

#include "api/session.h"

namespace quillon {

int enumerateDevicesOp(SpectrometerSession& session, unsigned int* count);
int openSpectrometerOp(SpectrometerSession& session, int index);
void closeSpectrometerOp(SpectrometerSession& session);
int getVersionsOp(uint32_t* const destinations[7]);
int getActiveScanIndexOp(SpectrometerSession& session, int* index);
int setActiveScanIndexOp(SpectrometerSession& session, uint8_t index);
int setLampStatusOp(SpectrometerSession& session, int on);
int getEstimatedScanTimeOp();

}  // namespace quillon
