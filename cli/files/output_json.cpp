#include "output_json.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "spectrum_output.h"

namespace quillon::cli {
namespace {

using Json = nlohmann::ordered_json;

// The library's doubles carry float noise (7.0299999...); the tables hold
// values with two decimals for widths and a few more for exposure times.
double rounded(double value, double step) {
    return std::round(value / step) * step;
}

Json configurationJson(const ScanSeries& series) {
    Json config = Json::object();
    config["position"] = series.position ? Json(*series.position) : Json();
    if (!series.configuration) {
        config["name"] = nullptr;
        config["candidates"] = series.candidateNames;
        return config;
    }
    config["name"] = series.configuration->name;
    config["sections"] = Json::array();
    for (const SectionView& s : series.configuration->sections)
        config["sections"].push_back({{"type", s.type},
                                      {"start_nm", s.startNm},
                                      {"end_nm", s.endNm},
                                      {"width", rounded(s.width, 0.01)},
                                      {"patterns", s.patterns},
                                      {"exposure", rounded(s.exposure, 1e-6)}});
    return config;
}

// Whole counts stay integers; a point without a value is null.
Json valueJson(const ScanSeries& series, double value) {
    if (std::isnan(value)) return nullptr;
    if (series.quantity == Quantity::Intensity && series.average <= 1)
        return static_cast<long long>(std::llround(value));
    return value;
}

Json optionalText(const std::string& text) {
    return text.empty() ? Json() : Json(text);
}

}  // namespace

Json seriesJson(const ScanSeries& series) {
    Json doc = Json::object();
    doc["configuration"] = configurationJson(series);
    doc["versions"] = series.versions ? Json(*series.versions) : Json();
    doc["estimated_scan_time_ms"] = series.estimatedScanMs;
    doc["average"] = series.average;
    doc["quantity"] = namesOf(series.quantity).key;
    doc["reference"] = optionalText(series.referenceFile);
    doc["dark"] = optionalText(series.darkFile);
    doc["sample"] = optionalText(series.files.sample);
    doc["comment"] = optionalText(series.files.comment);
    if (series.files.grid)
        doc["grid_nm"] = {{"start", series.files.grid->startNm},
                          {"step", series.files.grid->stepNm},
                          {"end", series.files.grid->endNm}};
    doc["scans"] = Json::array();
    for (const ScanResult& scan : series.scans) {
        const Spectrum s = filesAxis(series, scan.spectrum);
        Json values = Json::array();
        for (double value : s.value) values.push_back(valueJson(series, value));
        doc["scans"].push_back({{"scan", scan.number},
                                {"started_s", rounded(scan.startedSeconds, 0.001)},
                                {"points", s.wavelengthNm.size()},
                                {filesAxisKey(series), s.wavelengthNm},
                                {namesOf(series.quantity).key, std::move(values)}});
    }
    return doc;
}

void writeJson(FILE* out, const ScanSeries& series) {
    // A configuration name is the module's bytes, not always UTF-8.
    const std::string text =
        seriesJson(series).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fputs(text.c_str(), out);
    std::fputc('\n', out);
}

}  // namespace quillon::cli
