// What the server measures: single scans, dark and white references, timed
// series, all through the program's one series runner, and the spectra it
// keeps for the page and for downloads. Library calls run on the module's
// thread (the job queue); replies come back through callbacks.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "event_hub.h"
#include "job_queue.h"
#include "lamp_switch.h"
#include "reply.h"
#include "series_runner.h"

namespace quillon::cli::serve {

enum class Kept { Latest, Dark, Reference };

class Measurement {
  public:
    using Done = std::function<void(Reply)>;

    // `changed` is called (on any thread) when the state() fields change.
    Measurement(JobQueue& jobs, EventHub& events, LampSwitch& lamp, quillon_module* module,
                std::function<void()> changed);
    ~Measurement();
    Measurement(const Measurement&) = delete;
    Measurement& operator=(const Measurement&) = delete;

    // One spectrum of `quantity` (against the kept references) under `lamp`.
    void scan(LampPolicy lamp, Quantity quantity, Done done);
    // A dark spectrum (lamp off) or a white reference (lamp on), kept for the quantities.
    void capture(Kept kind, Done done);
    // A dark or white reference from a file `quillon` wrote, in place of a capture.
    Reply load(Kept kind, const Spectrum& spectrum, const std::string& name);
    Reply startSeries(unsigned long count, double intervalSeconds, LampPolicy lamp,
                      Quantity quantity);
    Reply stopSeries();

    // A scan is queued or running, or a series is on: changes must wait.
    bool busy() const;
    // "scanning", "series", "dark", "reference" of the module's state.
    void addState(Json& state) const;
    // The kept spectra as the page draws them: latest, dark, reference, and
    // the last few samples (oldest first).
    nlohmann::ordered_json spectra() const;
    // A kept spectrum as "csv", "json" or "jcamp".
    Reply download(const std::string& which, const std::string& format) const;

    // Ends a series and a scan in progress as soon as the library returns.
    void shutdown();

  private:
    // The runner's plan for one kind of measurement; an error reply when
    // the kept references cannot serve `quantity`.
    std::optional<Reply> plan(Kept kind, LampPolicy lamp, Quantity quantity, SeriesPlan& out);
    void capture(Kept kind, Done done, LampPolicy lamp, Quantity quantity);
    void keep(Kept kind, const ScanSeries& series, const ScanResult& scan);

    JobQueue& jobs_;
    EventHub& events_;
    LampSwitch& lamp_;
    quillon_module* const module_;
    std::function<void()> changed_;

    mutable std::mutex mutex_;
    bool scanning_ = false;
    bool stopping_ = false;
    SeriesRunner* running_ = nullptr;  // the single scan in progress
    std::unique_ptr<SeriesRunner> series_;
    bool seriesOn_ = false;
    unsigned long seriesCount_ = 0, seriesDone_ = 0;
    std::thread seriesThread_;
    std::optional<ScanSeries> latest_, dark_, reference_;
    std::deque<nlohmann::ordered_json> recent_;
};

}  // namespace quillon::cli::serve
