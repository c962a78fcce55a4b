// The part of a scan that turns intensities into reflectance or absorbance:
// the reference and dark files, read and checked before the module is
// opened.
#pragma once

#include <optional>
#include <string>

#include "arguments.h"
#include "quantity_basis.h"

namespace quillon::cli {

class QuantityRequest {
  public:
    // Checks --reference, --dark, --reflectance and --absorbance and reads the files; an exit
    // status when refused (explained on standard error).
    std::optional<int> prepare(const ParsedArguments& args);
    // Once the module is open, before anything is scanned: a usage error
    // (status 2) when the reference does not hold `points` points.
    std::optional<int> checkPoints(size_t points) const;
    // The quantity and the files' spectra, for the series.
    const QuantityBasis& basis() const { return basis_; }

  private:
    QuantityBasis basis_;
};

}  // namespace quillon::cli
