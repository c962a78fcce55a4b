// Reading back a JCAMP-DX file that `quillon scan --jcamp` wrote: one
// spectrum of intensities as (XY..XY) pairs.
#pragma once

#include <string>

#include "spectrum_series.h"

namespace quillon::cli {

// False with the reason in `why`.
bool parseJcampText(const std::string& text, Spectrum& out, std::string& why);

}  // namespace quillon::cli
