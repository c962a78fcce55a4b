// The part of a scan that turns intensities into reflectance or absorbance:
// the reference and dark files, read and checked before the module is
// opened, and compared with each scan's wavelengths after it.
#pragma once

#include <optional>
#include <string>

#include "arguments.h"
#include "spectrum_series.h"

namespace quillon::cli {

class QuantityRequest {
  public:
    // Checks --reference, --dark, --reflectance and --absorbance and reads the files; an exit
    // status when refused (explained on standard error).
    std::optional<int> prepare(const ParsedArguments& args);
    // Once the module is open, before anything is scanned: a usage error
    // (status 2) when the reference does not hold `points` points.
    std::optional<int> checkPoints(size_t points) const;
    // Sets the series' quantity and the names of the files behind it.
    void describe(ScanSeries& series) const;
    // Replaces the scan's intensities by the quantity. False, after saying
    // so, when a file's wavelengths differ from the scan's.
    bool apply(Spectrum& spectrum);
    // Says once on standard error how many points had no value or an
    // implausible reflectance, when there were any.
    void reportTally() const;

  private:
    Quantity quantity_ = Quantity::Intensity;
    std::string referencePath_, darkPath_;
    Spectrum reference_, dark_;
    QuantityTally tally_;
};

}  // namespace quillon::cli
