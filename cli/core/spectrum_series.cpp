#include "spectrum_series.h"

#include <cmath>
#include <cstdio>

#include "spectrum_output.h"

namespace quillon::cli {

std::string ScanSeries::title() const {
    if (configuration) return configuration->name;
    std::string text;
    for (size_t i = 0; i < candidateNames.size(); ++i)
        text += (i == 0 ? "" : " or ") + candidateNames[i];
    if (text.empty()) text = "configuration";
    if (position)
        text += (candidateNames.empty() ? " at position " : " (position ") +
                std::to_string(*position) + (candidateNames.empty() ? "" : ")");
    return text;
}

std::string formatWavelength(double nm) {
    char text[40];
    std::snprintf(text, sizeof text, "%.6f", nm);
    return text;
}

std::string formatValue(const ScanSeries& series, double value) {
    if (std::isnan(value)) return "nan";
    char text[40];
    if (series.quantity != Quantity::Intensity)
        // Six decimals resolve a ratio far finer than the detector's counts;
        // a value that rounds to zero is written without a sign.
        std::snprintf(text, sizeof text, "%.6f", std::fabs(value) < 5e-7 ? 0.0 : value);
    else if (series.average <= 1)
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

}  // namespace quillon::cli
