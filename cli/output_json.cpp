#include <cstdio>
#include <string>

#include "spectrum_output.h"

namespace quillon::cli {
namespace {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

void writeConfiguration(FILE* out, const ScanSeries& series) {
    std::fprintf(out, "  \"configuration\": {\n    \"position\": ");
    if (series.position)
        std::fprintf(out, "%d", *series.position);
    else
        std::fprintf(out, "null");
    std::fprintf(out, ",\n    \"name\": %s",
                 series.configuration ? jsonString(series.configuration->name).c_str() : "null");
    if (!series.configuration) {
        std::fprintf(out, ",\n    \"candidates\": [");
        for (size_t i = 0; i < series.candidateNames.size(); ++i)
            std::fprintf(out, "%s%s", i ? ", " : "", jsonString(series.candidateNames[i]).c_str());
        std::fprintf(out, "]\n  },\n");
        return;
    }
    std::fprintf(out, ",\n    \"sections\": [");
    const auto& sections = series.configuration->sections;
    for (size_t i = 0; i < sections.size(); ++i) {
        const SectionView& s = sections[i];
        std::fprintf(out,
                     "%s\n      {\"type\": %s, \"start_nm\": %u, \"end_nm\": %u, \"width\": %.2f, "
                     "\"patterns\": %u, \"exposure\": %g}",
                     i ? "," : "", jsonString(s.type).c_str(), s.startNm, s.endNm, s.width,
                     s.patterns, s.exposure);
    }
    std::fprintf(out, "\n    ]\n  },\n");
}

}  // namespace

void writeJson(FILE* out, const ScanSeries& series) {
    std::fprintf(out, "{\n");
    writeConfiguration(out, series);
    std::fprintf(out, "  \"versions\": ");
    if (series.versions) {
        std::fprintf(out, "[");
        for (size_t i = 0; i < series.versions->size(); ++i)
            std::fprintf(out, "%s%u", i ? ", " : "", (*series.versions)[i]);
        std::fprintf(out, "],\n");
    } else {
        std::fprintf(out, "null,\n");
    }
    std::fprintf(out, "  \"estimated_scan_time_ms\": %d,\n", series.estimatedScanMs);
    std::fprintf(out, "  \"average\": %u,\n  \"scans\": [", series.average);
    for (size_t k = 0; k < series.scans.size(); ++k) {
        const ScanResult& scan = series.scans[k];
        const Spectrum& s = scan.spectrum;
        std::fprintf(out, "%s\n    {\n      \"scan\": %u,\n      \"started_s\": %.3f,\n",
                     k ? "," : "", scan.number, scan.startedSeconds);
        std::fprintf(out, "      \"points\": %zu,\n      \"wavelength_nm\": [",
                     s.wavelengthNm.size());
        for (size_t i = 0; i < s.wavelengthNm.size(); ++i)
            std::fprintf(out, "%s%.6f", i ? ", " : "", s.wavelengthNm[i]);
        std::fprintf(out, "],\n      \"intensity\": [");
        for (size_t i = 0; i < s.intensity.size(); ++i)
            std::fprintf(out, "%s%s", i ? ", " : "",
                         formatIntensity(series, s.intensity[i]).c_str());
        std::fprintf(out, "]\n    }");
    }
    std::fprintf(out, "\n  ]\n}\n");
}

}  // namespace quillon::cli
