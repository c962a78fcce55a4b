#include <cstdio>

#include "spectrum_output.h"

namespace quillon::cli {

void writeCsv(FILE* out, const ScanSeries& series) {
    const bool several = series.scans.size() > 1;
    std::fprintf(out, "%swavelength_nm,%s\n", several ? "scan," : "", namesOf(series.quantity).key);
    for (const ScanResult& scan : series.scans) {
        const Spectrum& s = scan.spectrum;
        for (size_t i = 0; i < s.wavelengthNm.size(); ++i) {
            if (several) std::fprintf(out, "%u,", scan.number);
            std::fprintf(out, "%s,%s\n", formatWavelength(s.wavelengthNm[i]).c_str(),
                         formatValue(series, s.value[i]).c_str());
        }
    }
}

}  // namespace quillon::cli
