// What the simulated module measures: a smooth lamp-and-detector curve with a
// few absorption bands, seen through each pattern's band of columns for its
// exposure time, with optional detector noise from a fixed seed.
#pragma once

#include <cstdint>
#include <memory>

#include "sim/scan_producer.h"
#include "spectrum/hadamard.h"

namespace quillon::sim {

// Relative light (0..1) reaching the detector at a wavelength, lamp on.
double syntheticSpectrum(double wavelengthNm);

struct SyntheticOptions {
    double countsPerColumnMs = 400.0;  // detector counts per column per millisecond at the peak
    double darkLevel = 1000.0;         // detector offset every reading carries
    int darkPeriod = 8;                // one dark reading after every seven others
    double noiseSigma = 0.0;           // additive detector noise per reading, counts
    uint32_t noiseSeed = 1;
    // The module's own S-matrices; nullptr for the built-in table. Never the
    // library's table in use: that one may have been replaced by a file.
    std::shared_ptr<const HadamardMatrixSet> matrices;
};

// A producer that measures the synthetic spectrum through the active
// configuration's patterns: whole-form scan data for a single-form
// configuration, split form for a sectioned one.
ScanProducer syntheticScanProducer(SyntheticOptions options = {});

// The counts a pattern of `widthPixels` columns at `wavelengthNm` collects for
// an exposure setting (noise-free, lamp on).
double expectedPatternCounts(const SyntheticOptions& options, double wavelengthNm, int widthPixels,
                             int exposureSetting);

}  // namespace quillon::sim
