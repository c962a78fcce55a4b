#include "cli_reference.h"

#include "quillonlib.h"
#include "sim/bus.h"
#include "sim/module_clock.h"

namespace quillon::test {

LibraryView viewThroughLibrary(const std::string& statePath, bool scan, const Limits* limits) {
    // Puts the simulated bus back as the process found it when the view is
    // done, so tests that run after in the same process meet one fresh module.
    struct BusRestorer {
        double scale = sim::timeScale();
        ~BusRestorer() {
            closeSpectrometer();
            sim::bus().reset(1);
            sim::setTimeScale(scale);
        }
    } restore;
    closeSpectrometer();
    sim::bus().reset(0);
    sim::ModuleOptions options;
    options.statePath = statePath;
    sim::bus().attach(options);
    sim::setTimeScale(0);

    LibraryView view;
    unsigned int count = 0;
    if (enumerateDevices(&count) != 0 || openSpectrometer(0) != 0) {
        view.error = getLastException();
        return view;
    }
    auto& v = view.versions;
    getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
    getActiveScanIndex(&view.activeIndex);
    for (unsigned type = 0; limits && type < 2; ++type)
        view.maxPattern[type] =
            getMaxPattern("", limits->startNm, limits->endNm,
                          static_cast<unsigned char>(limits->widthPixels), type, 0);
    view.ok = getFormattedSpectrumLengths(&view.points) == 0;
    if (view.ok && scan) {
        setLampStatus(1);  // as quillon scan does
        view.wavelengths.resize(view.points);
        view.intensities.resize(view.points);
        view.ok = getFormattedSpectrum(view.wavelengths.data(), view.intensities.data()) == 0;
    }
    if (!view.ok) view.error = getLastException();
    return view;
}

}  // namespace quillon::test
