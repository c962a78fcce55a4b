// What a series' intensities are turned into and against what: the white
// reference and the dark spectrum, from files or kept from earlier scans.
// The one place where a reference is checked against a scan.
#pragma once

#include <optional>
#include <string>

#include "spectrum_series.h"

namespace quillon::cli {

struct ReferenceSpectrum {
    Spectrum spectrum;
    std::string source;  // what the outputs name: the file, or "the session's white reference"
    std::string label;   // how a message names it: "'white.csv'", "the white reference"
};

struct QuantityBasis {
    Quantity quantity = Quantity::Intensity;
    std::optional<ReferenceSpectrum> white, dark;  // a white one unless intensity
    std::string mismatchHint;  // what a message about differing wavelengths suggests

    // Sets the series' quantity and the names of the spectra behind it.
    void describe(ScanSeries& series) const;
    // Replaces the scan's intensities by the quantity, counting the points in
    // `tally`; the reason, and the values untouched, when a reference's
    // wavelengths differ from the scan's.
    std::optional<std::string> apply(Spectrum& spectrum, QuantityTally& tally) const;
};

}  // namespace quillon::cli
