#include "spectrum_axis.h"

#include "spectrum_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <regex>

namespace quillon::cli {
namespace {

constexpr size_t kMostGridPoints = 100000;
// A grid end printed with six decimals may lie this far off the measured range.
constexpr double kEdgeSlackNm = 5e-7;

std::string nm(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

}  // namespace

bool parseDecimal(const std::string& text, double& value) {
    static const std::regex decimal(R"([+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?)");
    if (!std::regex_match(text, decimal)) return false;
    const double parsed = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

std::optional<WavelengthGrid> parseGrid(const std::string& text, std::string& why) {
    const size_t first = text.find(':'), second = text.find(':', first + 1);
    WavelengthGrid grid;
    if (first == std::string::npos || second == std::string::npos ||
        text.find(':', second + 1) != std::string::npos ||
        !parseDecimal(text.substr(0, first), grid.startNm) ||
        !parseDecimal(text.substr(first + 1, second - first - 1), grid.stepNm) ||
        !parseDecimal(text.substr(second + 1), grid.endNm)) {
        why = "--grid needs START:STEP:END in nm (decimal numbers), not '" + text + "'";
        return std::nullopt;
    }
    if (grid.startNm <= 0 || grid.stepNm <= 0 || grid.endNm <= grid.startNm) {
        why = "--grid " + text + ": the start and step must be above 0 and the end above the start";
        return std::nullopt;
    }
    const double steps = (grid.endNm - grid.startNm) / grid.stepNm;
    const double whole = std::round(steps);
    if (std::fabs(steps - whole) > 1e-6 || whole + 1 > kMostGridPoints) {
        why = "--grid " + text +
              (whole + 1 > kMostGridPoints ? ": more than 100000 points"
                                           : ": the end is not a whole number of steps above "
                                             "the start");
        return std::nullopt;
    }
    grid.points = static_cast<size_t>(whole) + 1;
    return grid;
}

bool resampleOnto(const WavelengthGrid& grid, Spectrum& spectrum, std::string& why) {
    const std::vector<double>& x = spectrum.wavelengthNm;
    if (x.size() < 2 || !std::is_sorted(x.begin(), x.end(), std::less_equal<double>())) {
        why = "the measured wavelengths do not rise from point to point";
        return false;
    }
    const double last = grid.at(grid.points - 1);
    if (grid.startNm < x.front() - kEdgeSlackNm || last > x.back() + kEdgeSlackNm) {
        why = "the grid " + nm(grid.startNm) + "-" + nm(last) +
              " nm reaches outside the measured range " + nm(x.front()) + "-" + nm(x.back()) +
              " nm";
        return false;
    }
    Spectrum even;
    even.wavelengthNm.reserve(grid.points);
    even.value.reserve(grid.points);
    size_t k = 1;
    for (size_t i = 0; i < grid.points; ++i) {
        const double at = std::clamp(grid.at(i), x.front(), x.back());
        while (k + 1 < x.size() && x[k] < at) ++k;
        const double t = (at - x[k - 1]) / (x[k] - x[k - 1]);
        even.wavelengthNm.push_back(grid.at(i));
        even.value.push_back(spectrum.value[k - 1] +
                             t * (spectrum.value[k] - spectrum.value[k - 1]));
    }
    spectrum = std::move(even);
    return true;
}

Spectrum shownSpectrum(const ScanSeries& series, const Spectrum& spectrum) {
    Spectrum out = spectrum;
    std::string why;
    // A grid the first spectrum refused ended the series before any output.
    if (series.files.grid && !resampleOnto(*series.files.grid, out, why)) return spectrum;
    return out;
}

Spectrum filesAxis(const ScanSeries& series, const Spectrum& spectrum) {
    Spectrum out = shownSpectrum(series, spectrum);
    if (series.files.wavenumbers) toWavenumbers(out);
    return out;
}

const char* filesAxisKey(const ScanSeries& series) {
    return series.files.wavenumbers ? "wavenumber_cm-1" : "wavelength_nm";
}

void toWavenumbers(Spectrum& spectrum) {
    for (double& x : spectrum.wavelengthNm) x = 1e7 / x;
    std::reverse(spectrum.wavelengthNm.begin(), spectrum.wavelengthNm.end());
    std::reverse(spectrum.value.begin(), spectrum.value.end());
}

}  // namespace quillon::cli
