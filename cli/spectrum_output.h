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
// CSV: a header line, then one line per point of each scan; `numbered` adds a
// scan column (a series of several scans).
void writeCsvHeader(FILE* out, bool numbered);
void writeCsvRows(FILE* out, const ScanSeries& series, const ScanResult& scan, bool numbered);
void writeJson(FILE* out, const ScanSeries& series);
void writeSvg(FILE* out, const ScanSeries& series);

// Intensities are whole counts unless several scans were averaged.
std::string formatIntensity(const ScanSeries& series, double value);

}  // namespace quillon::cli
