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

std::string formatIntensity(const ScanSeries& series, double value) {
    char text[40];
    if (series.average <= 1)
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

}  // namespace quillon::cli
