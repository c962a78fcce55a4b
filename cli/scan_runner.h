// Measuring one spectrum of the active configuration, optionally as the mean
// of several scans, with a progress bar while each scan blocks.
#pragma once

#include <string>

#include "spectrum_series.h"

namespace quillon::cli {

struct MeasureOptions {
    unsigned points = 0;    // what the library reports for the active configuration
    unsigned average = 1;   // scans to average on the host
    bool progress = false;  // draw a bar on standard error
    std::string label;      // the bar's label
};

// False after the failure was reported.
bool measureSpectrum(const MeasureOptions& options, Spectrum& out);

}  // namespace quillon::cli
