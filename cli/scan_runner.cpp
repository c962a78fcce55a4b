#include "scan_runner.h"

#include <chrono>
#include <memory>
#include <vector>

#include "library_console.h"
#include "module_session.h"
#include "progress_bar.h"
#include "quillonlib.h"

namespace quillon::cli {

bool measureSpectrum(const MeasureOptions& options, Spectrum& out) {
    const size_t n = options.points;
    std::vector<double> wavelengths(n);
    std::vector<int> intensities(n);
    Spectrum sum;
    sum.value.assign(n, 0.0);
    for (unsigned k = 0; k < options.average; ++k) {
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
            reportLibraryFailure("scan failed");
            return false;
        }
        LibraryConsole::relay();
        if (k == 0) {
            sum.wavelengthNm = wavelengths;
        } else if (sum.wavelengthNm != wavelengths) {
            reportError("the wavelengths changed between the averaged scans");
            return false;
        }
        for (size_t i = 0; i < n; ++i) sum.value[i] += intensities[i];
    }
    for (double& value : sum.value) value /= options.average;
    out = std::move(sum);
    return true;
}

}  // namespace quillon::cli
