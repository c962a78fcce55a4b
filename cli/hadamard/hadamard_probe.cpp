#include "hadamard_probe.h"

#include <algorithm>

#include "quillonlib.h"
#include "stored_configs.h"

namespace quillon::cli {

const char* const kProbeConfigName = "quillon hadamard probe";

namespace {

constexpr unsigned kLowestNm = 900;
constexpr unsigned kHighestNm = 1700;
constexpr int kNarrowestPixels = 2;
constexpr int kWidestPixels = 52;
constexpr int kExposureIndex = 3;  // 5.08 ms: plenty of light, far from the longest
// getMaxPattern answers for ranges whose Hadamard plan stays within the
// module's 623 shown patterns; longer ranges are measured in pieces.
constexpr unsigned kPieceNm = 250;

// Whole columns between two wavelengths, never more than there are: the
// library's largest Hadamard pattern count of a range is its column span
// (rounded down) as long as narrow patterns can still be grouped, which
// holds for pieces this short.
int columnsBetween(unsigned startNm, unsigned endNm) {
    if (endNm <= startNm) return 0;
    const unsigned pieces = (endNm - startNm + kPieceNm - 1) / kPieceNm;
    int total = 0;
    for (unsigned i = 0; i < pieces; ++i) {
        const unsigned a = startNm + (endNm - startNm) * i / pieces;
        const unsigned b = startNm + (endNm - startNm) * (i + 1) / pieces;
        total += getMaxPattern("span", static_cast<int>(a), static_cast<int>(b), 2, 1, 1);
    }
    return total;
}

// Columns a group of `order` patterns of `width` columns needs: each pattern
// at least two columns clear of the next, one column to spare against
// rounding.
int columnsNeeded(int order, int width) {
    return (order - 1) * (width + 2) + 1;
}

// The shortest window starting at `startNm` that holds `need` columns.
std::optional<unsigned> endFor(unsigned startNm, int need) {
    if (columnsBetween(startNm, kHighestNm) < need) return std::nullopt;
    unsigned lo = startNm + 1, hi = kHighestNm;
    while (lo < hi) {
        const unsigned mid = (lo + hi) / 2;
        if (columnsBetween(startNm, mid) >= need)
            hi = mid;
        else
            lo = mid + 1;
    }
    while (lo < kHighestNm && columnsBetween(startNm, lo) < need) ++lo;
    return lo;
}

// The shortest window ending at `endNm` that holds `need` columns.
std::optional<unsigned> startFor(unsigned endNm, int need) {
    if (columnsBetween(kLowestNm, endNm) < need) return std::nullopt;
    unsigned lo = kLowestNm, hi = endNm - 1;
    while (lo < hi) {
        const unsigned mid = (lo + hi + 1) / 2;
        if (columnsBetween(mid, endNm) >= need)
            lo = mid;
        else
            hi = mid - 1;
    }
    while (lo > kLowestNm && columnsBetween(lo, endNm) < need) --lo;
    return lo;
}

bool sameSections(const ConfigView& a, const ConfigView& b) {
    if (a.name != b.name || a.sections.size() != b.sections.size()) return false;
    for (size_t s = 0; s < a.sections.size(); ++s) {
        const SectionView& x = a.sections[s];
        const SectionView& y = b.sections[s];
        if (x.type != y.type || x.width != y.width || x.startNm != y.startNm ||
            x.endNm != y.endNm || x.patterns != y.patterns || x.exposure != y.exposure)
            return false;
    }
    return true;
}

std::string lastError() {
    const char* text = getLastException();
    return text ? text : "unknown failure";
}

}  // namespace

std::vector<TwinWindow> windowsForOrder(int order, std::string& why) {
    const int full = columnsBetween(kLowestNm, kHighestNm);
    int widest = 0;
    for (int w = kNarrowestPixels; w <= kWidestPixels; ++w) {
        if (columnsNeeded(order, w) <= full) widest = w;
    }
    if (widest == 0) {
        why = "a group of " + std::to_string(order) + " patterns needs " +
              std::to_string(columnsNeeded(order, kNarrowestPixels)) +
              " columns at the narrowest patterns; 900 to 1700 nm span " + std::to_string(full) +
              " under the module's calibration";
        return {};
    }
    // The widest patterns collect the most light; narrower ones leave room
    // to place the group elsewhere in the range, where its members read
    // differently.
    std::vector<int> widths = {widest};
    for (double share : {0.75, 0.5}) {
        int w = widest;
        while (w > kNarrowestPixels && columnsNeeded(order, w) > share * full) --w;
        if (w < widths.back()) widths.push_back(w);
    }
    std::vector<TwinWindow> windows;
    const auto add = [&](unsigned a, unsigned b, int w) {
        const TwinWindow window{a, b, w};
        for (const TwinWindow& seen : windows) {
            if (seen.startNm == a && seen.endNm == b && seen.widthPixels == w) return;
        }
        windows.push_back(window);
    };
    for (int w : widths) {
        const int need = columnsNeeded(order, w);
        if (auto b = endFor(kLowestNm, need)) add(kLowestNm, *b, w);
        if (auto a = startFor(kHighestNm, need)) {
            add(*a, kHighestNm, w);
            const unsigned middle = (kLowestNm + *a) / 2;
            if (auto b = endFor(middle, need)) add(middle, *b, w);
        }
    }
    return windows;
}

ProbeSession::ProbeSession() = default;

ProbeSession::~ProbeSession() {
    std::string ignored;
    if (begun_ && !restored_) restore(ignored);
}

bool ProbeSession::begin(std::string& why) {
    configs_ = readConfigurations();
    if (findByName(configs_, kProbeConfigName) != nullptr) {
        why = std::string("the module stores a configuration named \"") + kProbeConfigName +
              "\" already (left by a run that was killed?); remove it with quillon config rm";
        return false;
    }
    std::optional<int> active = activePosition();
    if (!active) {
        why = "the module's active position cannot be read";
        return false;
    }
    active_ = *active;
    if (!probePositions(pointsAtPosition_, why)) return false;
    if (pointsAtPosition_.size() >= static_cast<size_t>(kMaxConfigs)) {
        why =
            "the module stores 20 configurations, the most it can; remove one to make room "
            "for a temporary one";
        return false;
    }
    begun_ = true;
    return true;
}

bool ProbeSession::store(int order, const TwinWindow& window, std::string& why) {
    const double width = getWidthPixel(window.widthPixels - 2);
    const double exposure = getExposureTime(kExposureIndex);
    const auto patterns = static_cast<unsigned short>(order);
    const auto start = static_cast<unsigned short>(window.startNm);
    const auto end = static_cast<unsigned short>(window.endNm);
    if (setTgtCfg(kProbeConfigName, 0, getScanTypesName(1), start, end, width, patterns,
                  exposure) != 0 ||
        setTgtCfg(kProbeConfigName, 1, getScanTypesName(0), start, end, width, patterns,
                  exposure) != 0 ||
        setTgtCfgs(kProbeConfigName, 1) != 0) {
        why = "the library refused the configuration: " + lastError();
        return false;
    }
    stored_ = true;
    const auto position = static_cast<unsigned char>(pointsAtPosition_.size());
    unsigned int length = 0;
    if (setActiveScanIndex(position) != 0 || getFormattedSpectrumLengths(&length) != 0) {
        why = "the temporary configuration cannot be made active: " + lastError();
        return false;
    }
    if (length != 2u * static_cast<unsigned>(order)) {
        why = "the temporary configuration is not where it was stored";
        return false;
    }
    return true;
}

bool ProbeSession::scan(int order, TwinScan& out, std::string& why) {
    const auto n = static_cast<size_t>(order);
    std::vector<double> wavelengths(2 * n);
    std::vector<int> intensities(2 * n);
    if (getFormattedSpectrum(wavelengths.data(), intensities.data()) != 0) {
        why = "the scan failed: " + lastError();
        return false;
    }
    for (size_t k = 0; k < n; ++k) {
        if (wavelengths[k] != wavelengths[n + k]) {
            why = "the Hadamard and Column sections did not show the same patterns";
            return false;
        }
    }
    out.hadamard.assign(intensities.begin(), intensities.begin() + static_cast<long>(n));
    out.column.assign(intensities.begin() + static_cast<long>(n), intensities.end());
    return true;
}

bool ProbeSession::restore(std::string& why) {
    restored_ = true;
    if (!begun_) return true;
    bool ok = true;
    if (stored_) {
        if (removeTgtCfg(kProbeConfigName) != 0) {
            why = std::string("the temporary configuration \"") + kProbeConfigName +
                  "\" could not be removed (" + lastError() + "); remove it with quillon config rm";
            return false;
        }
        stored_ = false;
    }
    if (setActiveScanIndex(static_cast<unsigned char>(active_)) != 0) {
        why = "the active position " + std::to_string(active_) + " could not be restored";
        return false;
    }
    std::vector<unsigned> points;
    std::string probeWhy;
    std::vector<ConfigView> configs = readConfigurations();
    configs.erase(std::remove_if(configs.begin(), configs.end(),
                                 [](const ConfigView& c) { return c.name == kProbeConfigName; }),
                  configs.end());
    if (!probePositions(points, probeWhy) || points != pointsAtPosition_ ||
        activePosition() != active_ || configs.size() != configs_.size() ||
        !std::equal(configs.begin(), configs.end(), configs_.begin(), sameSections)) {
        why = "the module's configurations differ from the ones found at the start";
        ok = false;
    }
    return ok;
}

}  // namespace quillon::cli
