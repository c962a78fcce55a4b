// The output formats of a scan: an aligned table for people, CSV for
// spreadsheets, JSON for scripts and an SVG plot for the eye.
#pragma once

#include <cstdio>

#include "spectrum_series.h"

namespace quillon::cli {

// Module versions and the configuration, as "# " comment lines.
void writeScanHeader(FILE* out, const ScanSeries& series);
// One scan as an aligned "wavelength_nm  intensity" table; `numbered` puts a
// line naming the scan before it.
void writeTable(FILE* out, const ScanSeries& series, const ScanResult& scan, bool numbered);
// A header line, then one line per point (with a scan column when there are several scans).
void writeCsv(FILE* out, const ScanSeries& series);
void writeJson(FILE* out, const ScanSeries& series);
void writeSvg(FILE* out, const ScanSeries& series);

// Intensities are whole counts unless several scans were averaged.
std::string formatIntensity(const ScanSeries& series, double value);

}  // namespace quillon::cli
