// One series of spectra from the active configuration: the schedule (count
// and interval), the lamp policy with an optional warm-up, the quantity
// against a white reference and a dark spectrum, and stopping or cancelling
// from another thread. Every face of the program measures through it.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "lamp_switch.h"
#include "quantity_basis.h"
#include "spectrum_series.h"

namespace quillon::cli {

struct SeriesPlan {
    unsigned long count = 1;     // spectra; 0: until stopped
    double intervalSeconds = 0;  // from the start of one spectrum to that of the next
    unsigned average = 1;        // scans averaged on the host into each spectrum
    LampPolicy lamp = LampPolicy::On;
    // Waited after the lamp was switched on for the series and before its
    // first scan, so that its light has settled.
    double warmupSeconds = 0;
    QuantityBasis quantity;
    FileLabels files;       // what the outputs say besides the values
    bool progress = false;  // a bar on standard error while each scan blocks or the lamp warms
    // The module, through quillon.h: cancel() then stops the scan in
    // progress at once. Without one, the 29 exports' (quillon serve's, until
    // it moves), whose scan completes first.
    quillon_module* module = nullptr;
    // Spectra kept in series() (the newest ones); 0 keeps all. A series
    // that runs until stopped and hands each spectrum on keeps one.
    size_t keepLast = 0;
};

struct SeriesEnd {
    enum Kind {
        Completed,  // every planned spectrum was taken
        Unready,    // the module cannot measure (no active configuration); `why` says why
        Stopped,    // stop(), cancel() or the caller's callback ended it early
        Failed,     // the module or the library failed; `why` says how
        Mismatch,   // a reference does not fit the scan; `why` says how; the scan is dropped
    };
    Kind kind = Completed;
    std::string why;
};

class SeriesRunner {
  public:
    // Runs a piece of library work and returns when it is done. Hosts whose
    // module belongs to another thread pass one that runs it there; the
    // waits between spectra happen on the thread calling run() regardless.
    using ModuleCall = std::function<void(const std::function<void()>&)>;
    // After the module was described, before the lamp is switched.
    using OnStart = std::function<void(const ScanSeries&)>;
    // With each spectrum as it completes (already the plan's quantity); false ends the series.
    using OnSpectrum = std::function<bool(const ScanSeries&, const ScanResult&)>;

    SeriesRunner(SeriesPlan plan, LampSwitch& lamp, ModuleCall onModule = {});
    SeriesRunner(const SeriesRunner&) = delete;
    SeriesRunner& operator=(const SeriesRunner&) = delete;

    // Measures the series on the calling thread; once only.
    SeriesEnd run(const OnStart& onStart, const OnSpectrum& onSpectrum);
    // From any thread: no spectrum is started after this; the one in
    // progress still completes.
    void stop();
    // From any thread: as stop(), and the spectrum in progress is dropped,
    // its scan stopped (through quillon.h) or else once it returns.
    void cancel();
    bool cancelled() const;

    // What was measured so far: the module's description and every spectrum kept.
    const ScanSeries& series() const { return series_; }
    // Points without a value or out of range, over all spectra.
    const QuantityTally& tally() const { return tally_; }

  private:
    // False when stopped before `until`.
    bool waitUntil(std::chrono::steady_clock::time_point until);
    void onModule(const std::function<void()>& work);
    bool stopRequested() const;

    const SeriesPlan plan_;
    LampSwitch& lamp_;
    ModuleCall onModule_;
    ScanSeries series_;
    QuantityTally tally_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool cancel_ = false;
};

}  // namespace quillon::cli
