// What a scan command measured, in the shape every output format reads.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "quantity.h"
#include "stored_configs.h"

namespace quillon::cli {

struct Spectrum {
    std::vector<double> wavelengthNm;
    // Of the series' quantity: dark-corrected counts (the mean of the scans
    // when several were averaged), or the reflectance or absorbance computed
    // from them (NaN where a point has no value).
    std::vector<double> value;
};

// An even grid the spectra are interpolated onto (--grid START:STEP:END, nm).
struct WavelengthGrid {
    double startNm = 0, stepNm = 0, endNm = 0;
    size_t points = 0;
    double at(size_t i) const { return startNm + stepNm * static_cast<double>(i); }
};

// What the outputs say besides the measured values (--sample, --comment,
// --grid, --xunits); the spectra stay as measured, the outputs reshape them.
struct FileLabels {
    std::string sample, comment;  // as the user named them; empty when not
    std::optional<WavelengthGrid> grid;
    bool wavenumbers = false;  // CSV, JSON and JCAMP-DX give X in cm-1
};

struct ScanResult {
    unsigned number = 1;        // from 1
    double startedSeconds = 0;  // since the first scan started
    std::chrono::system_clock::time_point startedAt{};
    Spectrum spectrum;
};

struct ScanSeries {
    std::optional<int> position;              // the module's active position
    std::optional<ConfigView> configuration;  // when its name could be told
    std::vector<std::string> candidateNames;  // names that fit when it could not
    std::optional<std::array<unsigned, 7>> versions;
    int estimatedScanMs = -1;
    unsigned average = 1;
    Quantity quantity = Quantity::Intensity;
    std::string referenceFile, darkFile;  // what the quantity was computed against
    FileLabels files;
    std::vector<ScanResult> scans;

    // The configuration's name, or a description of the position.
    std::string title() const;
    // The sample's name, else title(): what a plot or a JCAMP-DX file is called.
    std::string displayTitle() const { return files.sample.empty() ? title() : files.sample; }
};

}  // namespace quillon::cli
