// A scan series as a JSON document, for writers that want the document
// itself rather than its text.
#pragma once

#include <nlohmann/json.hpp>

#include "spectrum_series.h"

namespace quillon::cli {

// Key order as written: configuration, versions, estimated_scan_time_ms,
// average, quantity, reference, dark, scans.
nlohmann::ordered_json seriesJson(const ScanSeries& series);

}  // namespace quillon::cli
