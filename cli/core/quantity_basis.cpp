#include "quantity_basis.h"

namespace quillon::cli {

void QuantityBasis::describe(ScanSeries& series) const {
    series.quantity = quantity;
    series.referenceFile = white ? white->source : std::string();
    series.darkFile = dark ? dark->source : std::string();
}

std::optional<std::string> QuantityBasis::apply(Spectrum& spectrum, QuantityTally& tally) const {
    if (quantity == Quantity::Intensity || !white) return std::nullopt;
    for (const std::optional<ReferenceSpectrum>* kept : {&white, &dark}) {
        if (!*kept) continue;
        if (auto difference =
                wavelengthDifference((*kept)->spectrum.wavelengthNm, spectrum.wavelengthNm))
            return "the wavelengths of " + (*kept)->label +
                   " differ from this scan's: " + *difference + " (" + mismatchHint + ")";
    }
    static const std::vector<double> kNoDark;
    spectrum.value = computeQuantity(quantity, spectrum.value, white->spectrum.value,
                                     dark ? dark->spectrum.value : kNoDark, tally);
    return std::nullopt;
}

}  // namespace quillon::cli
