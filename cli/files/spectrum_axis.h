// What a scan's spectra are written against: the measured wavelengths, or an
// even grid they are interpolated onto (--grid START:STEP:END, nm), in
// nanometres or as wavenumbers (--xunits cm-1).
#pragma once

#include <optional>
#include <string>

#include "spectrum_series.h"

namespace quillon::cli {

// "START:STEP:END" in nm; nullopt with the reason in `why` unless the end lies
// a whole number of steps (at most 100000) above the start.
std::optional<WavelengthGrid> parseGrid(const std::string& text, std::string& why);

// The spectrum linearly interpolated onto the grid; false with the reason when
// the grid reaches outside the measured wavelengths (or they do not rise).
bool resampleOnto(const WavelengthGrid& grid, Spectrum& spectrum, std::string& why);

// Wavenumbers in cm-1 (10^7 / nm) of a spectrum's points, ascending: the
// values follow their points into the reversed order.
void toWavenumbers(Spectrum& spectrum);

// Decimal numbers only ("12", "-0.5", "1e3"): no hexadecimal, no infinity or
// NaN words, no spaces.
bool parseDecimal(const std::string& text, double& value);

}  // namespace quillon::cli
