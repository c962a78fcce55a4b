// A spectrum's values (intensity, reflectance or absorbance) against wavelength
// as a standalone SVG document.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "spectrum_output.h"

namespace quillon::cli {
namespace {

constexpr double kWidth = 800, kHeight = 500;
constexpr double kLeft = 90, kRight = 24, kTop = 48, kBottom = 64;
const char* const kColours[] = {"#1f5fa8", "#c8553d", "#2a9d5c", "#8e5bb5", "#d4a017", "#555555"};
constexpr size_t kColourCount = sizeof kColours / sizeof *kColours;

std::string xmlText(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

struct Axis {
    double low, high;  // the plotted range
    double step;       // between ticks
    int decimals;      // of the tick labels
    double span() const { return high - low; }
    double firstTick() const { return std::ceil(low / step - 1e-9) * step; }
};

// Ticks at whole steps of 1, 2 or 5 times a power of ten; `widen` extends the
// range to whole steps, otherwise it stays at the data.
Axis niceAxis(double low, double high, int wantedTicks, bool widen) {
    if (!(high > low)) {
        const double pad = std::max(1.0, std::fabs(low) * 0.05);
        low -= pad;
        high += pad;
    }
    const double raw = (high - low) / wantedTicks;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double normal = raw / magnitude;
    const double step = (normal < 1.5 ? 1 : normal < 3 ? 2 : normal < 7 ? 5 : 10) * magnitude;
    Axis axis{low, high, step, 0};
    if (widen) {
        axis.low = std::floor(low / step) * step;
        axis.high = std::ceil(high / step) * step;
    }
    axis.decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
    return axis;
}

std::string tickLabel(double value, int decimals) {
    char text[32];
    if (std::fabs(value) < 1e-12) value = 0;  // no "-0"
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

void writeSvg(FILE* out, const ScanSeries& series) {
    double minX = INFINITY, maxX = -INFINITY, minY = 0, maxY = -INFINITY;
    for (const ScanResult& scan : series.scans) {
        for (size_t i = 0; i < scan.spectrum.wavelengthNm.size(); ++i) {
            minX = std::min(minX, scan.spectrum.wavelengthNm[i]);
            maxX = std::max(maxX, scan.spectrum.wavelengthNm[i]);
            if (std::isnan(scan.spectrum.value[i])) continue;
            minY = std::min(minY, scan.spectrum.value[i]);
            maxY = std::max(maxY, scan.spectrum.value[i]);
        }
    }
    if (!std::isfinite(minX)) minX = 900, maxX = 1700;
    if (!std::isfinite(maxY)) maxY = 1;
    const Axis x = niceAxis(minX, maxX, 8, false);
    const Axis y = niceAxis(minY, maxY, 6, true);
    const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
    auto px = [&](double v) { return kLeft + (v - x.low) / x.span() * plotW; };
    auto py = [&](double v) { return kTop + plotH - (v - y.low) / y.span() * plotH; };
    const std::string title = xmlText(series.displayTitle());

    std::fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    std::fprintf(out,
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                 "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n",
                 kWidth, kHeight, kWidth, kHeight);
    std::fprintf(out, "  <title>%s</title>\n", title.c_str());
    std::fprintf(out, "  <rect x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"white\"/>\n",
                 kWidth, kHeight);
    std::fprintf(out,
                 "  <text class=\"title\" x=\"%.1f\" y=\"28\" text-anchor=\"middle\" "
                 "font-size=\"16\">%s</text>\n",
                 kLeft + plotW / 2, title.c_str());

    std::fprintf(out, "  <g class=\"grid\" stroke=\"#e4e4e4\" stroke-width=\"1\">\n");
    for (double v = x.firstTick(); v <= x.high + x.step * 1e-6; v += x.step)
        std::fprintf(out, "    <line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", px(v),
                     kTop, px(v), kTop + plotH);
    for (double v = y.firstTick(); v <= y.high + y.step * 1e-6; v += y.step)
        std::fprintf(out, "    <line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", kLeft,
                     py(v), kLeft + plotW, py(v));
    std::fprintf(out, "  </g>\n");

    std::fprintf(out, "  <g class=\"axes\" stroke=\"black\" stroke-width=\"1\">\n");
    std::fprintf(out, "    <line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", kLeft,
                 kTop + plotH, kLeft + plotW, kTop + plotH);
    std::fprintf(out, "    <line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", kLeft, kTop,
                 kLeft, kTop + plotH);
    for (double v = x.firstTick(); v <= x.high + x.step * 1e-6; v += x.step)
        std::fprintf(out, "    <line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", px(v),
                     kTop + plotH, px(v), kTop + plotH + 5);
    for (double v = y.firstTick(); v <= y.high + y.step * 1e-6; v += y.step)
        std::fprintf(out, "    <line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n",
                     kLeft - 5, py(v), kLeft, py(v));
    std::fprintf(out, "  </g>\n");

    std::fprintf(out, "  <g class=\"ticks\">\n");
    for (double v = x.firstTick(); v <= x.high + x.step * 1e-6; v += x.step)
        std::fprintf(out, "    <text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">%s</text>\n",
                     px(v), kTop + plotH + 20, tickLabel(v, x.decimals).c_str());
    for (double v = y.firstTick(); v <= y.high + y.step * 1e-6; v += y.step)
        std::fprintf(out, "    <text x=\"%.2f\" y=\"%.2f\" text-anchor=\"end\">%s</text>\n",
                     kLeft - 8, py(v) + 4, tickLabel(v, y.decimals).c_str());
    std::fprintf(out, "  </g>\n");
    std::fprintf(out,
                 "  <text class=\"xlabel\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">"
                 "Wavelength (nm)</text>\n",
                 kLeft + plotW / 2, kHeight - 16);
    std::fprintf(out,
                 "  <text class=\"ylabel\" x=\"20\" y=\"%.1f\" text-anchor=\"middle\" "
                 "transform=\"rotate(-90 20 %.1f)\">%s</text>\n",
                 kTop + plotH / 2, kTop + plotH / 2, namesOf(series.quantity).label);

    // Sections may cover their ranges in any order; the line follows wavelength.
    for (size_t k = 0; k < series.scans.size(); ++k) {
        const Spectrum& s = series.scans[k].spectrum;
        std::vector<size_t> order(s.wavelengthNm.size());
        std::iota(order.begin(), order.end(), size_t{0});
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return s.wavelengthNm[a] < s.wavelengthNm[b]; });
        std::fprintf(out,
                     "  <polyline class=\"spectrum\" data-scan=\"%u\" fill=\"none\" "
                     "stroke=\"%s\" stroke-width=\"1.5\" points=\"",
                     series.scans[k].number, kColours[k % kColourCount]);
        // A point without a value is left out; the line joins its neighbours.
        const char* separator = "";
        for (size_t n : order) {
            if (std::isnan(s.value[n])) continue;
            std::fprintf(out, "%s%.2f,%.2f", separator, px(s.wavelengthNm[n]), py(s.value[n]));
            separator = " ";
        }
        std::fprintf(out, "\"/>\n");
    }
    if (series.scans.size() > 1) {
        std::fprintf(out, "  <g class=\"legend\">\n");
        // Colours repeat after a few scans; the legend names the first ones only.
        const size_t named = std::min(series.scans.size(), kColourCount);
        for (size_t k = 0; k < named; ++k) {
            const double ly = kTop + 10 + 16 * static_cast<double>(k);
            std::fprintf(out,
                         "    <line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" "
                         "stroke=\"%s\" stroke-width=\"2\"/>\n",
                         kLeft + plotW - 90, ly, kLeft + plotW - 70, ly,
                         kColours[k % kColourCount]);
            std::fprintf(out, "    <text x=\"%.1f\" y=\"%.1f\">scan %u</text>\n",
                         kLeft + plotW - 64, ly + 4, series.scans[k].number);
        }
        std::fprintf(out, "  </g>\n");
    }
    std::fprintf(out, "</svg>\n");
}

}  // namespace quillon::cli
