// What a spectrum's values mean, and the one place that turns measured
// intensities into reflectance or absorbance against a white reference and
// an optional dark spectrum.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillon::cli {

enum class Quantity { Intensity, Reflectance, Absorbance };

// How the outputs name a quantity.
struct QuantityNames {
    const char* key;    // "absorbance": the column, field and array name
    const char* label;  // "Absorbance": the axis label
    const char* units;  // "ABSORBANCE": JCAMP-DX's ##YUNITS
};
const QuantityNames& namesOf(Quantity quantity);

// Points without a value and reflectances outside the plausible range.
struct QuantityTally {
    size_t points = 0;
    size_t undefined = 0;   // W - D <= 0 or S - D <= 0
    size_t outOfRange = 0;  // reflectance below 0 or above kMostPlausibleReflectance
    // One sentence for standard error; empty when every point is fine.
    std::string describe() const;
};

constexpr double kMostPlausibleReflectance = 1.5;

// R = (S - D) / (W - D) or A = -log10(R) per point, NaN where undefined.
// `dark` empty means D = 0. The spans have the same length.
std::vector<double> computeQuantity(Quantity quantity, std::span<const double> sample,
                                    std::span<const double> white, std::span<const double> dark,
                                    QuantityTally& tally);

// Nothing when both lists hold the same wavelengths (within the rounding of
// the six decimals the files carry); otherwise what differs, in words.
std::optional<std::string> wavelengthDifference(std::span<const double> there,
                                                std::span<const double> here);

}  // namespace quillon::cli
