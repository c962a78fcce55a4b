// Reading back a spectrum that `quillon scan` wrote (CSV or JSON), for use as
// a white reference or a dark spectrum. User input: every field is checked,
// and a refusal says what is wrong.
#pragma once

#include <string>

#include "spectrum_series.h"

namespace quillon::cli {

// One spectrum of intensities; false with the reason in `why`.
bool readSpectrumFile(const std::string& path, Spectrum& out, std::string& why);
// The same from the file's text.
bool parseSpectrumText(const std::string& text, Spectrum& out, std::string& why);

}  // namespace quillon::cli
