// The output formats of a scan: an aligned table for people, CSV for
// spreadsheets, JSON for scripts and an SVG plot for the eye.
#pragma once

#include <cstdio>

#include "spectrum_series.h"

namespace quillon::cli {

// Module versions and the configuration, as "# " comment lines.
void writeScanHeader(FILE* out, const ScanSeries& series);
// One scan as an aligned "wavelength_nm  <quantity>" table; `numbered` puts a
// line naming the scan before it.
void writeTable(FILE* out, const ScanSeries& series, const ScanResult& scan, bool numbered);
// A header line, then one line per point (with a scan column when there are several scans).
void writeCsv(FILE* out, const ScanSeries& series);
// The same in parts, for a series written as it runs: `numbered` adds the scan column.
void writeCsvHeader(FILE* out, const ScanSeries& series, bool numbered);
void writeCsvRows(FILE* out, const ScanSeries& series, const ScanResult& scan, bool numbered);
void writeJson(FILE* out, const ScanSeries& series);
void writeSvg(FILE* out, const ScanSeries& series);

// One value as the table, CSV and JCAMP-DX write it: intensities are whole
// counts unless several scans were averaged, reflectance and absorbance have
// six decimals, and a point without a value is "nan".
std::string formatValue(const ScanSeries& series, double value);
// A wavelength with six decimals, as every text format writes it.
std::string formatWavelength(double nm);
// A measured spectrum as every output shows it: on the series' grid when it has one.
Spectrum shownSpectrum(const ScanSeries& series, const Spectrum& spectrum);
// The same with the X the files give: wavelengths, or with --xunits cm-1
// wavenumbers in ascending order; and the name of that X in CSV and JSON.
Spectrum filesAxis(const ScanSeries& series, const Spectrum& spectrum);
const char* filesAxisKey(const ScanSeries& series);

// JCAMP-DX 4.24 of one scan with the same digits as the CSV ("?" for a point
// without a value): ##XYPOINTS=(XY..XY), one "x, y" pair per line, or on an
// even grid in nm ##XYDATA=(X++(Y..Y)) with ##DELTAX, written only when the
// project's reader reads every point of it back. The title is the sample's
// name else the configuration's; the comment is ##SAMPLE DESCRIPTION.
void writeJcamp(FILE* out, const ScanSeries& series, const ScanResult& scan);
// The file of scan `number` when a run writes several: FILE.jdx -> FILE-2.jdx.
std::string numberedPath(const std::string& path, unsigned number);

}  // namespace quillon::cli
