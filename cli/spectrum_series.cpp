#include "spectrum_series.h"

#include <cmath>
#include <cstdio>

#include "spectrum_output.h"

namespace quillon::cli {

std::string ScanSeries::title() const {
    if (configuration) return configuration->name;
    std::string text = "configuration";
    if (position) text += " at position " + std::to_string(*position);
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
