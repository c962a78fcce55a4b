#include <cstdio>

#include "spectrum_output.h"

namespace quillon::cli {

void writeScanHeader(FILE* out, const ScanSeries& series) {
    if (series.versions) {
        std::fprintf(out, "# Module versions:");
        for (unsigned word : *series.versions) std::fprintf(out, " 0x%08X", word);
        std::fprintf(out, "\n");
    }
    std::fprintf(out, "# Active configuration:");
    if (series.position) std::fprintf(out, " position %d", *series.position);
    if (series.configuration) {
        std::fprintf(out, ", \"%s\" (%u points)\n", series.configuration->name.c_str(),
                     series.configuration->points());
        unsigned n = 1;
        for (const SectionView& s : series.configuration->sections)
            std::fprintf(out,
                         "#   section %u: %-8s %4u-%4u nm  width %.2f  %3u patterns  exposure %g\n",
                         n++, s.type.c_str(), s.startNm, s.endNm, s.width, s.patterns, s.exposure);
    } else {
        std::fprintf(out, "%s", series.candidateNames.empty() ? "" : ", one of");
        for (size_t i = 0; i < series.candidateNames.size(); ++i)
            std::fprintf(out, "%s \"%s\"", i == 0 ? "" : ",", series.candidateNames[i].c_str());
        std::fprintf(out, "\n");
    }
    if (series.estimatedScanMs >= 0)
        std::fprintf(out, "# Estimated scan time: %d ms\n", series.estimatedScanMs);
    if (series.average > 1)
        std::fprintf(out, "# Each spectrum is the mean of %u scans\n", series.average);
    if (series.quantity != Quantity::Intensity)
        std::fprintf(out, "# %s against the reference %s%s%s\n", namesOf(series.quantity).label,
                     series.referenceFile.c_str(), series.darkFile.empty() ? "" : ", dark ",
                     series.darkFile.c_str());
}

void writeTable(FILE* out, const ScanSeries& series, const ScanResult& scan, bool numbered) {
    const Spectrum s = shownSpectrum(series, scan.spectrum);
    if (numbered)
        std::fprintf(out, "# Scan %u, started at %.1f s, %zu points\n", scan.number,
                     scan.startedSeconds, s.wavelengthNm.size());
    std::fprintf(out, "%13s  %12s\n", "wavelength_nm", namesOf(series.quantity).key);
    for (size_t i = 0; i < s.wavelengthNm.size(); ++i)
        std::fprintf(out, "%13.3f  %12s\n", s.wavelengthNm[i],
                     formatValue(series, s.value[i]).c_str());
}

}  // namespace quillon::cli
