// What the host calls to measure: the number of points of the active
// configuration's spectrum, and a scan delivered into the host's arrays.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/session.h"

namespace quillon {

int getFormattedSpectrumLength(SpectrometerSession& session, unsigned int* length);
// Interprets `size` bytes of a scan data image into the host's arrays, which
// hold `capacity` points. 0, or -1.
int setData(SpectrometerSession& session, const uint8_t* image, size_t size, double* wavelengths,
            int32_t* intensities, uint32_t capacity);
int getFormattedSpectrumOp(SpectrometerSession& session, double* wavelengths, int32_t* intensities);

}  // namespace quillon
