#include <cstdio>

#include "spectrum_output.h"

namespace quillon::cli {

void writeCsvHeader(FILE* out, bool numbered) {
    std::fprintf(out, numbered ? "scan,wavelength_nm,intensity\n" : "wavelength_nm,intensity\n");
}

void writeCsvRows(FILE* out, const ScanSeries& series, const ScanResult& scan, bool numbered) {
    const Spectrum& s = scan.spectrum;
    for (size_t i = 0; i < s.wavelengthNm.size(); ++i) {
        if (numbered) std::fprintf(out, "%u,", scan.number);
        std::fprintf(out, "%.6f,%s\n", s.wavelengthNm[i],
                     formatIntensity(series, s.intensity[i]).c_str());
    }
}

}  // namespace quillon::cli
