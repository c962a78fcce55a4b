// The simulated module's sense of time. Every duration the module spends (a
// scan, for now) is scaled: 1 is real time, 0 makes the module finish at once
// so tests never wait. The scale starts from QUILLONLIB_SIMULATOR_TIME_SCALE
// when that holds a number, 1 otherwise.
#pragma once

#include <chrono>
#include <cstdint>

namespace quillon::sim {

using ModuleTime = std::chrono::steady_clock::time_point;

double timeScale();
void setTimeScale(double scale);  // negative values count as 0

ModuleTime moduleNow();
// The host time at which `moduleMs` of module time after `start` have passed.
ModuleTime moduleAfter(ModuleTime start, uint32_t moduleMs);

}  // namespace quillon::sim
