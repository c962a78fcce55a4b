#include "cli_reference.h"

#include "quillonlib.h"
#include "sim/bus.h"
#include "sim/module_clock.h"

namespace quillon::test {
namespace {

// Puts the simulated bus back as the process found it when a view is done,
// so tests that run after in the same process meet one fresh module.
struct BusRestorer {
    double scale = sim::timeScale();
    ~BusRestorer() {
        closeSpectrometer();
        sim::bus().reset(1);
        sim::setTimeScale(scale);
    }
};

bool openFresh(const std::string& statePath) {
    closeSpectrometer();
    sim::bus().reset(0);
    sim::ModuleOptions options;
    options.statePath = statePath;
    sim::bus().attach(options);
    sim::setTimeScale(0);
    unsigned int count = 0;
    return enumerateDevices(&count) == 0 && openSpectrometer(0) == 0;
}

}  // namespace

LibraryView viewThroughLibrary(const std::string& statePath, bool scan) {
    BusRestorer restore;
    LibraryView view;
    if (!openFresh(statePath)) {
        view.error = getLastException();
        closeSpectrometer();
        return view;
    }
    auto& v = view.versions;
    getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
    getActiveScanIndex(&view.activeIndex);
    unsigned int length = 0;
    view.ok = getFormattedSpectrumLengths(&length) == 0;
    view.points = length;
    if (view.ok && scan) {
        setLampStatus(1);  // as quillon scan does
        view.wavelengths.resize(length);
        view.intensities.resize(length);
        view.ok = getFormattedSpectrum(view.wavelengths.data(), view.intensities.data()) == 0;
    }
    if (!view.ok) view.error = getLastException();
    closeSpectrometer();
    return view;
}

int maxPatternThroughLibrary(const std::string& statePath, int startNm, int endNm,
                             unsigned widthPixels, unsigned scanType) {
    BusRestorer restore;
    if (!openFresh(statePath)) return -1;
    const int most =
        getMaxPattern("", startNm, endNm, static_cast<unsigned char>(widthPixels), scanType, 0);
    closeSpectrometer();
    return most;
}

}  // namespace quillon::test
