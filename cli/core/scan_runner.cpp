#include "scan_runner.h"

#include <chrono>
#include <memory>
#include <vector>

#include "library_console.h"
#include "module_configs.h"
#include "module_session.h"
#include "progress_bar.h"
#include "quillonlib.h"
#include "stored_configs.h"

namespace quillon::cli {

namespace {

// The same through quillon.h: the active position names its configuration.
bool describeQuillonModule(ScanSeries& series, unsigned& points, std::string& why,
                           quillon_module* module) {
    uint32_t v[7] = {};
    if (quillon_versions(module, v) == QUILLON_OK)
        series.versions = std::array<unsigned, 7>{v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
    size_t position = 0;
    if (const quillon_result r = quillon_active_get(module, &position); r != QUILLON_OK) {
        why = std::string("cannot read the active position: ") + quillon_result_text(r);
        return false;
    }
    series.position = static_cast<int>(position);
    const std::vector<StoredConfig> configs = configurationsOf(module);
    const StoredConfig* active = atPosition(configs, position);
    if (active == nullptr) {
        why = "no configuration is active at position " + std::to_string(position) +
              "; choose one with: quillon activate";
        return false;
    }
    points = active->view.points();
    if (points == 0) {
        why = "the active configuration has no patterns to scan";
        return false;
    }
    series.configuration = active->view;
    series.candidateNames = {active->view.name};
    uint32_t estimate = 0;
    if (quillon_estimated_scan_time(module, &estimate) == QUILLON_OK)
        series.estimatedScanMs = static_cast<int>(estimate);
    return true;
}

// One scan into the arrays; the library's text of a failure in `why`.
bool scanOnce(const MeasureOptions& options, std::vector<double>& wavelengths,
              std::vector<int>& intensities, bool& cancelled, std::string& why) {
    cancelled = false;
    if (options.module == nullptr) {
        if (getFormattedSpectrum(wavelengths.data(), intensities.data()) == 0) return true;
        why = std::string("scan failed: ") + getLastException();
        return false;
    }
    size_t points = 0;
    static_assert(sizeof(int) == sizeof(int32_t));
    const quillon_result r =
        quillon_scan(options.module, wavelengths.data(),
                     reinterpret_cast<int32_t*>(intensities.data()), wavelengths.size(), &points);
    if (r == QUILLON_OK && points == wavelengths.size()) return true;
    cancelled = r == QUILLON_ERR_CANCELLED;
    why = r == QUILLON_OK ? "the scan delivered " + std::to_string(points) + " points, not " +
                                std::to_string(wavelengths.size())
                          : std::string("scan failed: ") + quillon_result_text(r);
    return false;
}

int estimatedScanMs(const MeasureOptions& options) {
    if (options.module == nullptr) return getEstimatedScanTime();
    uint32_t estimate = 0;
    return quillon_estimated_scan_time(options.module, &estimate) == QUILLON_OK
               ? static_cast<int>(estimate)
               : -1;
}

}  // namespace

bool describeModule(ScanSeries& series, unsigned& points, std::string& why,
                    quillon_module* module) {
    if (module != nullptr) return describeQuillonModule(series, points, why, module);
    std::array<unsigned, 7> v{};
    if (getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]) == 0) series.versions = v;
    series.position = activePosition();
    std::optional<unsigned> active = activePoints();
    if (!active) {
        why =
            "no configuration is active" +
            (series.position ? " at position " + std::to_string(*series.position) : std::string()) +
            "; choose one with: quillon activate: " + getLastException();
        return false;
    }
    if (*active == 0) {
        why = "the active configuration has no patterns to scan";
        return false;
    }
    points = *active;
    const std::vector<ConfigView> configs = readConfigurations();
    std::vector<const ConfigView*> names = candidatesFor(configs, points);
    if (names.size() == 1) series.configuration = *names.front();
    for (const ConfigView* config : names) series.candidateNames.push_back(config->name);
    series.estimatedScanMs = getEstimatedScanTime();
    return true;
}

bool measureSpectrum(const MeasureOptions& options, Spectrum& out, std::string& why) {
    const size_t n = options.points;
    std::vector<double> wavelengths(n);
    std::vector<int> intensities(n);
    Spectrum sum;
    sum.value.assign(n, 0.0);
    auto abandoned = [&] {
        if (!options.abandon || !options.abandon()) return false;
        why.clear();
        return true;
    };
    for (unsigned k = 0; k < options.average; ++k) {
        if (abandoned()) return false;
        std::unique_ptr<ProgressBar> bar;
        if (options.progress) {
            const int estimate = estimatedScanMs(options);
            std::string label = options.label;
            if (options.average > 1)
                label += " (" + std::to_string(k + 1) + "/" + std::to_string(options.average) + ")";
            if (estimate > 0)
                bar = std::make_unique<ProgressBar>(stderr, label,
                                                    std::chrono::milliseconds(estimate));
        }
        bool cancelled = false;
        const bool scanned = scanOnce(options, wavelengths, intensities, cancelled, why);
        bar.reset();
        if (!scanned) {
            // A scan stopped because the series was cancelled is no failure.
            if (cancelled) abandoned();
            return false;
        }
        LibraryConsole::relay();
        if (k == 0) {
            sum.wavelengthNm = wavelengths;
        } else if (sum.wavelengthNm != wavelengths) {
            why = "the wavelengths changed between the averaged scans";
            return false;
        }
        for (size_t i = 0; i < n; ++i) sum.value[i] += intensities[i];
    }
    // Completed after the signal is not completed before it.
    if (abandoned()) return false;
    for (double& value : sum.value) value /= options.average;
    out = std::move(sum);
    return true;
}

}  // namespace quillon::cli
