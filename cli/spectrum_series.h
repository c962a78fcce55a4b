// What a scan command measured, in the shape every output format reads.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "stored_configs.h"

namespace quillon::cli {

struct Spectrum {
    std::vector<double> wavelengthNm;
    // Dark-corrected counts; the mean of the scans when several were averaged.
    std::vector<double> intensity;
};

struct ScanResult {
    unsigned number = 1;        // from 1
    double startedSeconds = 0;  // since the first scan started
    Spectrum spectrum;
};

struct ScanSeries {
    std::optional<int> position;              // the module's active position
    std::optional<ConfigView> configuration;  // when its name could be told
    std::vector<std::string> candidateNames;  // names that fit when it could not
    std::optional<std::array<unsigned, 7>> versions;
    int estimatedScanMs = -1;
    unsigned average = 1;
    std::vector<ScanResult> scans;

    // The configuration's name, or a description of the position.
    std::string title() const;
};

}  // namespace quillon::cli
