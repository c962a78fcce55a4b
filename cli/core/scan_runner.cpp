#include "scan_runner.h"

#include <chrono>
#include <memory>
#include <vector>

#include "library_console.h"
#include "module_session.h"
#include "progress_bar.h"
#include "quillonlib.h"
#include "stored_configs.h"

namespace quillon::cli {

bool describeModule(ScanSeries& series, unsigned& points, std::string& why) {
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
            const int estimate = getEstimatedScanTime();
            std::string label = options.label;
            if (options.average > 1)
                label += " (" + std::to_string(k + 1) + "/" + std::to_string(options.average) + ")";
            if (estimate > 0)
                bar = std::make_unique<ProgressBar>(stderr, label,
                                                    std::chrono::milliseconds(estimate));
        }
        const int result = getFormattedSpectrum(wavelengths.data(), intensities.data());
        bar.reset();
        if (result != 0) {
            why = std::string("scan failed: ") + getLastException();
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
