// What the host calls to measure: the number of points of the active
// configuration's spectrum, and a scan delivered into the host's arrays.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/module.h"

namespace quillon {

// Points of the active configuration, or -1 when no stored configuration is active.
int64_t activePointCount(const Module& module);

// Adds the active configuration's points to `length`; `points` receives them.
Outcome getFormattedSpectrumLength(Module& module, unsigned int* length, int64_t& points);
// Interprets `size` bytes of a scan data image into the host's arrays, which
// hold `capacity` points.
Outcome setData(Module& module, const uint8_t* image, size_t size, double* wavelengths,
                int32_t* intensities, uint32_t capacity);
// Scans and delivers the spectrum into arrays of `capacity` points; a
// configuration of more points is refused before anything is sent.
Outcome getFormattedSpectrumOp(Module& module, double* wavelengths, int32_t* intensities,
                               size_t capacity);

}  // namespace quillon
