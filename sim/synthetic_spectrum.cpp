#include "sim/synthetic_spectrum.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/table_values.h"
#include "sim/measurement.h"

namespace quillon::sim {
namespace {

// With the lamp off only stray light reaches the detector.
constexpr double kStrayLight = 0.01;

struct Band {
    double centreNm, widthNm, depth;
};
// Absorption of a typical organic sample: water and C-H overtones.
constexpr Band kBands[] = {
    {1195.0, 28.0, 0.35}, {1450.0, 45.0, 0.55}, {1725.0, 30.0, 0.3}, {1020.0, 20.0, 0.15}};

double transmissionThrough(const Band* begin, const Band* end, double nm) {
    double transmission = 1.0;
    for (const Band* b = begin; b != end; ++b)
        transmission *=
            1.0 - b->depth * std::exp(-0.5 * std::pow((nm - b->centreNm) / b->widthNm, 2));
    return transmission;
}

// Absorption bands as "CENTRE_NM,WIDTH_NM,DEPTH" separated by ';' or line
// ends. A malformed entry is skipped.
std::vector<Band> parseBands(const std::string& text) {
    std::vector<Band> out;
    std::string entries = text;
    std::replace(entries.begin(), entries.end(), '\n', ';');
    std::istringstream list(entries);
    for (std::string entry; std::getline(list, entry, ';');) {
        Band b{};
        char extra = 0;
        if (std::sscanf(entry.c_str(), "%lf,%lf,%lf %c", &b.centreNm, &b.widthNm, &b.depth,
                        &extra) == 3 &&
            b.widthNm > 0 && b.depth >= 0 && b.depth <= 1)
            out.push_back(b);
    }
    return out;
}

// A sample file larger than this is no list of bands; it is not read.
constexpr off_t kMaxSampleFileSize = 64 * 1024;

// The sample in front of the module. QUILLONLIB_SIMULATOR_SAMPLE_FILE names a
// file read again before every scan, so a sample can be put in front between
// the scans of one process (a missing or empty file: nothing in front); else
// QUILLONLIB_SIMULATOR_SAMPLE, read once. Without either the module looks at
// its white reference.
std::vector<Band> sampleBands() {
    if (const char* path = std::getenv("QUILLONLIB_SIMULATOR_SAMPLE_FILE")) {
        // Only a regular file is opened: a FIFO named here must not stop the scan.
        struct stat info {};
        if (stat(path, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxSampleFileSize)
            return {};
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return parseBands(text.str());
    }
    static const std::vector<Band> fromEnvironment = [] {
        const char* text = std::getenv("QUILLONLIB_SIMULATOR_SAMPLE");
        return parseBands(text != nullptr ? text : "");
    }();
    return fromEnvironment;
}

}  // namespace

double syntheticSpectrum(double nm) {
    // Halogen lamp near 2900 K falling off towards both ends, times an
    // InGaAs detector response that drops steeply above about 1650 nm.
    const double lamp = std::exp(-std::pow((nm - 1150.0) / 520.0, 2.0));
    const double detector = 1.0 / (1.0 + std::exp((nm - 1680.0) / 22.0));
    return lamp * detector * transmissionThrough(std::begin(kBands), std::end(kBands), nm);
}

double expectedPatternCounts(const SyntheticOptions& options, double nm, int widthPixels,
                             int exposureSetting) {
    return options.countsPerColumnMs * syntheticSpectrum(nm) * widthPixels *
           exposureMsOf(exposureSetting);
}

ScanProducer syntheticScanProducer(SyntheticOptions options) {
    return [options](const ScanContext& context) -> std::vector<uint8_t> {
        const std::vector<Band> sample = sampleBands();
        PatternValueFn value = [&](const PatternBand& band) {
            const double light =
                context.lampOn ? transmissionThrough(sample.data(), sample.data() + sample.size(),
                                                     band.wavelengthNm)
                               : kStrayLight;
            return light *
                   expectedPatternCounts(options, band.wavelengthNm, band.width, band.exposureTime);
        };
        // Averaged scans and repeats lower the noise of each reading.
        const uint16_t repeats = context.config.scanType == kSectionedScanType
                                     ? context.config.sectioned.numRepeats
                                     : context.config.single.numRepeats;
        const double scans = std::max(1, int{context.averageCount}) * std::max(1, int{repeats});
        std::mt19937 random(options.noiseSeed + context.scanNumber);
        std::normal_distribution<double> noise(0.0, options.noiseSigma / std::sqrt(scans));
        ReadingsHook hook = [&](double* readings, int count) {
            if (options.noiseSigma <= 0.0) return;
            for (int i = 0; i < count; ++i) readings[i] += noise(random);
        };

        // A scan of very few readings has room for no dark reading at the
        // usual period; the module then takes its dark readings closer together.
        auto record = std::make_unique<ScanDataRecord>();
        const HadamardMatrixSet& matrices =
            options.matrices ? *options.matrices : builtInHadamardMatrixSet();
        SpecStatus rc = SpecStatus::NoSolution;
        for (int period = options.darkPeriod; period >= 2 && rc != SpecStatus::Ok; --period)
            rc = synthesizeScanData(context.config, context.calibration, value, options.darkLevel,
                                    period, *record, hook, &matrices);
        if (rc != SpecStatus::Ok) return {};
        std::vector<uint8_t> image(kScanDataBufferSize);
        size_t written = 0;
        RecordStatus encoded;
        if (record->form == ScanDataForm::Split) {
            std::snprintf(record->split.scanName, sizeof record->split.scanName, "sim scan %u",
                          context.scanNumber);
            encoded = encodeScanDataSplit(record->split, image.data(), image.size(), written);
        } else {
            std::snprintf(record->whole.scanName, sizeof record->whole.scanName, "sim scan %u",
                          context.scanNumber);
            encoded = encodeScanDataWhole(record->whole, image.data(), image.size(), written);
        }
        if (encoded != RecordStatus::Ok) return {};
        image.resize(written);
        return image;
    };
}

}  // namespace quillon::sim
