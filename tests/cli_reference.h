// What the library itself reports, in this process, for a simulated module
// that keeps its state in the same file as the quillon runs of a test: the
// numbers the program's output must agree with.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace quillon::test {

struct Limits {
    int startNm, endNm;
    unsigned widthPixels;
};

struct LibraryView {
    bool ok = false;
    int activeIndex = -1;
    unsigned points = 0;  // getFormattedSpectrumLengths
    std::array<unsigned, 7> versions{};
    std::vector<double> wavelengths;  // one scan of the active configuration
    std::vector<int> intensities;
    std::string error;             // getLastException() after a failure
    int maxPattern[2] = {-1, -1};  // getMaxPattern for `limits`, Column and Hadamard
};

// Opens a fresh simulated module on `statePath` (empty: factory state), reads
// it, scans once with the lamp on when `scan` is set, and closes it again.
LibraryView viewThroughLibrary(const std::string& statePath, bool scan = true,
                               const Limits* limits = nullptr);

}  // namespace quillon::test
