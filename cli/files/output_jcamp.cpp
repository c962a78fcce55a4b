// JCAMP-DX 4.24, the exchange format spectroscopy programs read. The
// wavelengths of a scan are not evenly spaced (they follow the calibration
// polynomial, and sections may overlap), so the data are (XY..XY) pairs, not
// the X++(Y..Y) form that assumes a constant step.
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "spectrum_output.h"

namespace quillon::cli {
namespace {

std::string jcampY(const ScanSeries& series, double value) {
    const std::string text = formatValue(series, value);
    return text == "nan" ? "?" : text;
}

std::string longDate(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    char text[32] = "";
    if (gmtime_r(&seconds, &utc) != nullptr)
        std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &utc);
    return text;
}

std::string owner() {
    const passwd* user = getpwuid(geteuid());
    return user != nullptr && user->pw_name != nullptr ? user->pw_name : "";
}

std::string dataSystem(const ScanSeries& series) {
    std::string text = "NIR module";
    if (!series.versions) return text;
    char word[16];
    for (unsigned v : *series.versions) {
        std::snprintf(word, sizeof word, " %X", v);
        text += word;
    }
    return text;
}

// A text record; lines stay within the format's 80 columns, a long value
// going on in the next lines (broken at spaces).
void writeRecord(FILE* out, const char* label, const std::string& value) {
    constexpr size_t kColumns = 80;
    std::string line = std::string("##") + label + "=";
    size_t at = 0;
    while (line.size() + value.size() - at > kColumns) {
        const size_t room = kColumns - line.size();
        size_t cut = value.rfind(' ', at + room);
        if (cut == std::string::npos || cut <= at) cut = value.find(' ', at + room);
        if (cut == std::string::npos) break;
        std::fprintf(out, "%s%s\n", line.c_str(), value.substr(at, cut - at).c_str());
        line.clear();
        at = cut + 1;
    }
    std::fprintf(out, "%s%s\n", line.c_str(), value.substr(at).c_str());
}

}  // namespace

void writeJcamp(FILE* out, const ScanSeries& series, const ScanResult& scan) {
    const Spectrum& s = scan.spectrum;
    const size_t n = s.wavelengthNm.size();
    std::string title = series.title();
    if (scan.number > 1 || series.scans.size() > 1)
        title += ", scan " + std::to_string(scan.number);
    writeRecord(out, "TITLE", title);
    std::fprintf(out, "##JCAMP-DX=4.24\n");
    std::fprintf(out, "##DATA TYPE=NEAR INFRARED SPECTRUM\n");
    std::fprintf(out, "##ORIGIN=quillon (quillonlib)\n");
    writeRecord(out, "OWNER", owner());
    std::fprintf(out, "##LONGDATE=%s\n", longDate(scan.startedAt).c_str());
    writeRecord(out, "SPECTROMETER/DATA SYSTEM", dataSystem(series));
    std::fprintf(out, "##XUNITS=NANOMETERS\n");
    std::fprintf(out, "##YUNITS=%s\n", namesOf(series.quantity).units);
    std::fprintf(out, "##XFACTOR=1\n##YFACTOR=1\n");
    if (n > 0) {
        std::fprintf(out, "##FIRSTX=%s\n", formatWavelength(s.wavelengthNm.front()).c_str());
        std::fprintf(out, "##LASTX=%s\n", formatWavelength(s.wavelengthNm.back()).c_str());
    }
    std::fprintf(out, "##NPOINTS=%zu\n", n);
    if (n > 0) std::fprintf(out, "##FIRSTY=%s\n", jcampY(series, s.value.front()).c_str());
    std::fprintf(out, "##XYPOINTS=(XY..XY)\n");
    for (size_t i = 0; i < n; ++i)
        std::fprintf(out, "%s, %s\n", formatWavelength(s.wavelengthNm[i]).c_str(),
                     jcampY(series, s.value[i]).c_str());
    std::fprintf(out, "##END=\n");
}

std::string numberedPath(const std::string& path, unsigned number) {
    const size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        dot = path.size();
    return path.substr(0, dot) + "-" + std::to_string(number) + path.substr(dot);
}

}  // namespace quillon::cli
