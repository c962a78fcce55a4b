#include <cstdio>

#include "spectrum_output.h"

namespace quillon::cli {

void writeCsvHeader(FILE* out, const ScanSeries& series, bool numbered) {
    std::fprintf(out, "%s%s,%s\n", numbered ? "scan," : "", filesAxisKey(series),
                 namesOf(series.quantity).key);
}

void writeCsvRows(FILE* out, const ScanSeries& series, const ScanResult& scan, bool numbered) {
    const Spectrum s = filesAxis(series, scan.spectrum);
    for (size_t i = 0; i < s.wavelengthNm.size(); ++i) {
        if (numbered) std::fprintf(out, "%u,", scan.number);
        std::fprintf(out, "%s,%s\n", formatWavelength(s.wavelengthNm[i]).c_str(),
                     formatValue(series, s.value[i]).c_str());
    }
}

void writeCsv(FILE* out, const ScanSeries& series) {
    const bool several = series.scans.size() > 1;
    writeCsvHeader(out, series, several);
    for (const ScanResult& scan : series.scans) writeCsvRows(out, series, scan, several);
}

}  // namespace quillon::cli
