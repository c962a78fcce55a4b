// What a series' files say besides the values: the sample's name and a
// comment, an even wavelength grid and the unit of X (--sample, --comment,
// --grid, --xunits). Shared by `quillon scan` and anything else that writes
// series through the output formats.
#pragma once

#include <optional>
#include <string>

#include "arguments.h"
#include "spectrum_series.h"

namespace quillon::cli {

class FileOptions {
  public:
    // Checks the options; an exit status when refused (said on standard error).
    std::optional<int> prepare(const ParsedArguments& args);
    // Puts them on the series, for every output to write.
    void describe(ScanSeries& series) const;
    // Interpolates a measured spectrum onto the grid, if one was asked for.
    // False, after saying why, when the grid reaches outside the spectrum.
    bool apply(Spectrum& spectrum) const;

  private:
    std::string sample_, comment_;
    std::optional<WavelengthGrid> grid_;
    bool wavenumbers_ = false;
};

}  // namespace quillon::cli
