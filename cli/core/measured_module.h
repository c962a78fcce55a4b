// The module a measurement runs on. The library's exports reach one module
// per process; a host that serves several modules at once gives each its own.
#pragma once

#include <string>

#include "scan_runner.h"
#include "spectrum_series.h"

namespace quillon::cli {

class MeasuredModule {
  public:
    virtual ~MeasuredModule() = default;

    // As describeModule: the module's part of a scan's header and the active
    // configuration's point count; false with the reason.
    virtual bool describe(ScanSeries& series, unsigned& points, std::string& why) = 0;
    // As measureSpectrum: one spectrum, the mean of options.average scans;
    // false with `why` empty when abandoned or cancelled.
    virtual bool measure(const MeasureOptions& options, Spectrum& out, std::string& why) = 0;
    // False when the module refuses.
    virtual bool setLamp(bool on) = 0;

    // The one module of the library's exports.
    static MeasuredModule& library();
};

}  // namespace quillon::cli
