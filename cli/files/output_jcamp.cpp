// JCAMP-DX 4.24, the exchange format spectroscopy programs read. The
// wavelengths of a scan are not evenly spaced (they follow the calibration
// polynomial, and sections may overlap), so the measured points are (XY..XY)
// pairs; on an even grid (--grid) the data take the standard X++(Y..Y) form
// that assumes a constant step, which more readers read.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

#include "jcamp_reading.h"
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

constexpr size_t kColumns = 80;

// A text record; lines stay within the format's 80 columns, a long value
// going on in the next lines (broken at spaces). Line breaks in the value
// become spaces: a line starting "##" would be read as another record.
void writeRecord(std::string& out, const char* label, std::string value) {
    for (char& c : value)
        if (c == '\n' || c == '\r') c = ' ';
    std::string line = std::string("##") + label + "=";
    size_t at = 0;
    while (line.size() + value.size() - at > kColumns) {
        const size_t room = kColumns - line.size();
        size_t cut = value.rfind(' ', at + room);
        if (cut == std::string::npos || cut <= at) cut = value.find(' ', at + room);
        if (cut == std::string::npos) break;
        out += line + value.substr(at, cut - at) + "\n";
        line.clear();
        at = cut + 1;
    }
    out += line + value.substr(at) + "\n";
}

void append(std::string& out, const std::string& line) {
    out += line;
    out += '\n';
}

// (X++(Y..Y)): each line the X of its first value, then as many values as
// fit in the format's columns, the next ones DELTAX apart.
void writeEven(std::string& out, const ScanSeries& series, const Spectrum& s) {
    append(out, "##DELTAX=" + formatWavelength(series.files.grid->stepNm));
    append(out, "##XYDATA=(X++(Y..Y))");
    for (size_t i = 0; i < s.value.size();) {
        std::string line = formatWavelength(s.wavelengthNm[i]);
        while (i < s.value.size()) {
            const std::string y = jcampY(series, s.value[i]);
            if (line.size() + 1 + y.size() > kColumns) break;
            line += " " + y;
            ++i;
        }
        append(out, line);
    }
}

// The even form read back by the project's reader gives every point of the
// spectrum within the printed digits.
bool readsBack(const std::string& text, const ScanSeries& series, const Spectrum& s) {
    Spectrum back;
    std::string units, why;
    if (!parseJcampSpectrum(text, back, units, why) || back.value.size() != s.value.size())
        return false;
    for (size_t i = 0; i < s.value.size(); ++i) {
        // Six printed decimals of FIRSTX and LASTX: X rebuilt from them is that close.
        if (std::fabs(back.wavelengthNm[i] - s.wavelengthNm[i]) > 2e-6) return false;
        const std::string printed = jcampY(series, s.value[i]);
        if (printed == "?" ? !std::isnan(back.value[i])
                           : std::fabs(back.value[i] - std::stod(printed)) >
                                 1e-9 * std::max(1.0, std::fabs(back.value[i])))
            return false;
    }
    return true;
}

std::string jcampText(const ScanSeries& series, const ScanResult& scan, bool even) {
    const Spectrum s = filesAxis(series, scan.spectrum);
    const size_t n = s.wavelengthNm.size();
    std::string title = series.displayTitle();
    if (scan.number > 1 || series.scans.size() > 1)
        title += ", scan " + std::to_string(scan.number);
    std::string out;
    writeRecord(out, "TITLE", title);
    append(out, "##JCAMP-DX=4.24");
    append(out, "##DATA TYPE=NEAR INFRARED SPECTRUM");
    append(out, "##ORIGIN=quillon (quillonlib)");
    writeRecord(out, "OWNER", owner());
    if (!series.files.comment.empty()) writeRecord(out, "SAMPLE DESCRIPTION", series.files.comment);
    append(out, "##LONGDATE=" + longDate(scan.startedAt));
    writeRecord(out, "SPECTROMETER/DATA SYSTEM", dataSystem(series));
    append(out, series.files.wavenumbers ? "##XUNITS=1/CM" : "##XUNITS=NANOMETERS");
    append(out, std::string("##YUNITS=") + namesOf(series.quantity).units);
    append(out, "##XFACTOR=1\n##YFACTOR=1");
    if (n > 0) {
        append(out, "##FIRSTX=" + formatWavelength(s.wavelengthNm.front()));
        append(out, "##LASTX=" + formatWavelength(s.wavelengthNm.back()));
    }
    append(out, "##NPOINTS=" + std::to_string(n));
    if (n > 0) append(out, "##FIRSTY=" + jcampY(series, s.value.front()));
    if (even) {
        writeEven(out, series, s);
    } else {
        append(out, "##XYPOINTS=(XY..XY)");
        for (size_t i = 0; i < n; ++i)
            append(out, formatWavelength(s.wavelengthNm[i]) + ", " + jcampY(series, s.value[i]));
    }
    append(out, "##END=");
    return out;
}

}  // namespace

void writeJcamp(FILE* out, const ScanSeries& series, const ScanResult& scan) {
    // Even in nm only: wavenumbers of an even wavelength grid are not evenly spaced.
    const bool even =
        series.files.grid && !series.files.wavenumbers && scan.spectrum.value.size() > 1;
    std::string text = jcampText(series, scan, even);
    if (even && !readsBack(text, series, filesAxis(series, scan.spectrum)))
        text = jcampText(series, scan, false);
    std::fputs(text.c_str(), out);
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
