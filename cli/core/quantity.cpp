#include "quantity.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace quillon::cli {

const QuantityNames& namesOf(Quantity quantity) {
    // In the enumeration's order.
    static const QuantityNames kNames[] = {{"intensity", "Intensity (counts)", "ARBITRARY UNITS"},
                                           {"reflectance", "Reflectance", "REFLECTANCE"},
                                           {"absorbance", "Absorbance", "ABSORBANCE"}};
    return kNames[static_cast<int>(quantity)];
}

std::string QuantityTally::describe() const {
    if (undefined == 0 && outOfRange == 0) return {};
    std::string text;
    if (undefined != 0)
        text = std::to_string(undefined) + " of " + std::to_string(points) +
               " points have no value (sample or reference not above the dark level)";
    if (outOfRange != 0) {
        char range[16];
        std::snprintf(range, sizeof range, "%g", kMostPlausibleReflectance);
        text += (text.empty() ? "" : "; ") + std::to_string(outOfRange) + " of " +
                std::to_string(points) + " points have a reflectance outside 0.." + range +
                " (lamp drift or a swapped reference?)";
    }
    return text;
}

std::vector<double> computeQuantity(Quantity quantity, std::span<const double> sample,
                                    std::span<const double> white, std::span<const double> dark,
                                    QuantityTally& tally) {
    std::vector<double> out(sample.begin(), sample.end());
    tally.points += sample.size();
    if (quantity == Quantity::Intensity) return out;
    for (size_t i = 0; i < out.size(); ++i) {
        const double d = dark.empty() ? 0.0 : dark[i];
        const double signal = sample[i] - d, reference = white[i] - d;
        if (!(signal > 0) || !(reference > 0)) {
            out[i] = std::numeric_limits<double>::quiet_NaN();
            ++tally.undefined;
            continue;
        }
        const double r = signal / reference;
        if (r > kMostPlausibleReflectance) ++tally.outOfRange;
        // -log10(1) is -0; a plain 0 prints without the sign.
        out[i] = quantity == Quantity::Reflectance ? r : 0.0 - std::log10(r);
    }
    return out;
}

std::optional<std::string> wavelengthDifference(std::span<const double> there,
                                                std::span<const double> here) {
    if (there.size() != here.size())
        return std::to_string(there.size()) + " points there, " + std::to_string(here.size()) +
               " in this scan";
    // The files round wavelengths to 1e-6 nm; another calibration or
    // configuration moves them by far more.
    constexpr double kTolerance = 1e-5;
    for (size_t i = 0; i < here.size(); ++i) {
        if (std::fabs(there[i] - here[i]) <= kTolerance) continue;
        char text[128];
        std::snprintf(text, sizeof text, "point %zu is at %.6f nm there, %.6f nm in this scan",
                      i + 1, there[i], here[i]);
        return std::string(text);
    }
    return std::nullopt;
}

}  // namespace quillon::cli
