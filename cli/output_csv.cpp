#include <cstdio>

#include "spectrum_output.h"

namespace quillon::cli {

void writeCsv(FILE* out, const ScanSeries& series) {
    const bool several = series.scans.size() > 1;
    std::fprintf(out, several ? "scan,wavelength_nm,intensity\n" : "wavelength_nm,intensity\n");
    for (const ScanResult& scan : series.scans) {
        const Spectrum& s = scan.spectrum;
        for (size_t i = 0; i < s.wavelengthNm.size(); ++i) {
            if (several) std::fprintf(out, "%u,", scan.number);
            std::fprintf(out, "%.6f,%s\n", s.wavelengthNm[i],
                         formatIntensity(series, s.intensity[i]).c_str());
        }
    }
}

}  // namespace quillon::cli
