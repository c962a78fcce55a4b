// Reading back one JCAMP-DX spectrum that quillon or the Python package
// wrote: (XY..XY) pairs or the even (X++(Y..Y)) form, X in nanometres or
// wavenumbers. Part of the one reader of spectrum files (spectrum_file.h).
#pragma once

#include <string>

#include "spectrum_series.h"

namespace quillon::cli {

// The spectrum in nm, ascending, and its ##YUNITS; false with the reason
// (quoting the line it could not read) in `why`.
bool parseJcampSpectrum(const std::string& text, Spectrum& out, std::string& yUnits,
                        std::string& why);

}  // namespace quillon::cli
