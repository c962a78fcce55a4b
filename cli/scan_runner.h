// Measuring one spectrum of the active configuration, optionally as the mean
// of several scans, with a progress bar while each scan blocks.
#pragma once

#include <string>

#include "spectrum_series.h"

namespace quillon::cli {

class InterruptWatch;

struct MeasureOptions {
    unsigned points = 0;    // what the library reports for the active configuration
    unsigned average = 1;   // scans to average on the host
    bool progress = false;  // draw a bar on standard error
    std::string label;      // the bar's label
    // When it reports a signal, a spectrum not yet complete is abandoned.
    const InterruptWatch* interrupt = nullptr;
};

enum class Measured { Complete, Failed, Abandoned };

// Failed after the failure was reported; Abandoned when a signal came before
// the spectrum was complete (`out` untouched).
Measured measureSpectrum(const MeasureOptions& options, Spectrum& out);

}  // namespace quillon::cli
