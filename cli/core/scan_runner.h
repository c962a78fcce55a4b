// Measuring one spectrum of the active configuration, optionally as the mean
// of several scans, with a progress bar while each scan blocks.
#pragma once

#include <functional>
#include <string>

#include "quillon.h"
#include "spectrum_series.h"

namespace quillon::cli {

struct MeasureOptions {
    unsigned points = 0;    // what the library reports for the active configuration
    unsigned average = 1;   // scans to average on the host
    bool progress = false;  // draw a bar on standard error
    std::string label;      // the bar's label
    // Once it says so, a spectrum not yet complete is abandoned:
    // measureSpectrum returns false with `why` empty.
    std::function<bool()> abandon;
    // Scans through quillon.h; without one, through the 29 exports (quillon
    // serve's module, until it moves).
    quillon_module* module = nullptr;
};

// The module's side of a scan's header: versions, the active configuration
// (its name when it can be told) and its estimate; `points` is the active
// configuration's spectrum length. False with the reason in `why`.
bool describeModule(ScanSeries& series, unsigned& points, std::string& why,
                    quillon_module* module = nullptr);

// False with the reason (the library's text included) in `why`; nothing is printed.
bool measureSpectrum(const MeasureOptions& options, Spectrum& out, std::string& why);

}  // namespace quillon::cli
