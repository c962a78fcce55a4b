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
    // For the series, for every output to write.
    const FileLabels& labels() const { return labels_; }
    // The reason a measured spectrum cannot be written with these labels (a
    // grid reaching outside its wavelengths); nullopt when it can.
    std::optional<std::string> refusal(const Spectrum& spectrum) const;

  private:
    FileLabels labels_;
};

}  // namespace quillon::cli
