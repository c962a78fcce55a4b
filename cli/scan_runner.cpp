#include "scan_runner.h"

#include <chrono>
#include <memory>
#include <vector>

#include "interrupt.h"
#include "library_console.h"
#include "module_session.h"
#include "progress_bar.h"
#include "quillonlib.h"

namespace quillon::cli {

Measured measureSpectrum(const MeasureOptions& options, Spectrum& out) {
    const size_t n = options.points;
    std::vector<double> wavelengths(n);
    std::vector<int> intensities(n);
    Spectrum sum;
    sum.intensity.assign(n, 0.0);
    auto interrupted = [&] {
        return options.interrupt != nullptr && options.interrupt->requested();
    };
    for (unsigned k = 0; k < options.average; ++k) {
        if (interrupted()) return Measured::Abandoned;
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
            return Measured::Failed;
        }
        LibraryConsole::relay();
        if (k == 0) {
            sum.wavelengthNm = wavelengths;
        } else if (sum.wavelengthNm != wavelengths) {
            reportError("the wavelengths changed between the averaged scans");
            return Measured::Failed;
        }
        for (size_t i = 0; i < n; ++i) sum.intensity[i] += intensities[i];
    }
    // Completed after the signal is not completed before it.
    if (interrupted()) return Measured::Abandoned;
    for (double& value : sum.intensity) value /= options.average;
    out = std::move(sum);
    return Measured::Complete;
}

}  // namespace quillon::cli
