#include "measurement.h"

#include <cstdio>
#include <cstdlib>

#include "output_json.h"
#include "spectrum_output.h"

namespace quillon::cli::serve {
namespace {

// Samples kept for the page's overlay.
constexpr size_t kRecentSpectra = 10;

// What one of the command line's writers writes, as a text.
std::string render(const std::function<void(FILE*)>& write) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    if (out == nullptr) return "";
    write(out);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

const char* kindName(Kept kind) {
    return kind == Kept::Dark ? "dark" : kind == Kept::Reference ? "reference" : "sample";
}

std::optional<Kept> keptNamed(const std::string& name) {
    if (name == "latest") return Kept::Latest;
    if (name == "dark") return Kept::Dark;
    if (name == "reference") return Kept::Reference;
    return std::nullopt;
}

// One spectrum as the page draws it.
nlohmann::ordered_json spectrumEvent(const ScanSeries& series, const std::string& kind,
                                     const std::string& note) {
    nlohmann::ordered_json event = seriesJson(series);
    event["kind"] = kind;
    if (!series.scans.empty()) {
        // When it was measured, for the page's legend: milliseconds since 1970.
        const auto at = series.scans.back().startedAt.time_since_epoch();
        event["taken_at_ms"] = std::chrono::duration_cast<std::chrono::milliseconds>(at).count();
    }
    if (!note.empty()) event["note"] = note;
    return event;
}

}  // namespace

Measurement::Measurement(JobQueue& jobs, EventHub& events, LampSwitch& lamp, quillon_module* module,
                         std::function<void()> changed)
    : jobs_(jobs), events_(events), lamp_(lamp), module_(module), changed_(std::move(changed)) {}

Measurement::~Measurement() {
    shutdown();
}

std::optional<Reply> Measurement::plan(Kept kind, LampPolicy lamp, Quantity quantity,
                                       SeriesPlan& out) {
    // A dark spectrum is measured with the lamp off, a white reference with it on.
    out.lamp = kind == Kept::Dark        ? LampPolicy::Off
               : kind == Kept::Reference ? LampPolicy::On
                                         : lamp;
    out.keepLast = 1;
    out.module = module_;
    if (kind != Kept::Latest || quantity == Quantity::Intensity) return std::nullopt;
    std::lock_guard lock(mutex_);
    if (!reference_) return errorReply(409, "take a white reference first");
    QuantityBasis& basis = out.quantity;
    basis.quantity = quantity;
    basis.mismatchHint = "take it again with this configuration";
    basis.white = ReferenceSpectrum{reference_->scans.front().spectrum,
                                    "the session's white reference", "the white reference"};
    if (dark_)
        basis.dark = ReferenceSpectrum{dark_->scans.front().spectrum, "the session's dark spectrum",
                                       "the dark spectrum"};
    return std::nullopt;
}

void Measurement::keep(Kept kind, const ScanSeries& series, const ScanResult& scan) {
    ScanSeries one = series;
    one.scans = {scan};
    const nlohmann::ordered_json event = spectrumEvent(one, kindName(kind), "");
    {
        std::lock_guard lock(mutex_);
        std::optional<ScanSeries>& slot = kind == Kept::Dark        ? dark_
                                          : kind == Kept::Reference ? reference_
                                                                    : latest_;
        slot = std::move(one);
        if (kind == Kept::Latest) {
            recent_.push_back(event);
            if (recent_.size() > kRecentSpectra) recent_.pop_front();
        }
    }
    events_.publish("spectrum", event.dump(-1, ' ', false, Json::error_handler_t::replace));
}

void Measurement::scan(LampPolicy lamp, Quantity quantity, Done done) {
    capture(Kept::Latest, std::move(done), lamp, quantity);
}

void Measurement::capture(Kept kind, Done done) {
    capture(kind, std::move(done), LampPolicy::Keep, Quantity::Intensity);
}

void Measurement::capture(Kept kind, Done done, LampPolicy lamp, Quantity quantity) {
    SeriesPlan plan;
    if (auto refused = this->plan(kind, lamp, quantity, plan)) return done(*refused);
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return done(errorReply(503, "the server is stopping"));
        if (scanning_) return done(errorReply(409, "a scan is running"));
        if (seriesOn_) return done(errorReply(409, "a series is running; stop it first"));
        scanning_ = true;
    }
    changed_();
    auto finish = [this, done](Reply reply) {
        {
            std::lock_guard lock(mutex_);
            scanning_ = false;
        }
        changed_();
        done(std::move(reply));
    };
    const bool queued = jobs_.post([this, kind, finish, plan = std::move(plan)](bool run) mutable {
        if (!run) return finish(errorReply(503, "the server is stopping"));
        SeriesRunner runner(std::move(plan), lamp_);
        {
            std::lock_guard lock(mutex_);
            running_ = &runner;
            if (stopping_) runner.cancel();
        }
        std::string note;
        const SeriesEnd end = runner.run({}, [&](const ScanSeries& series, const ScanResult& scan) {
            keep(kind, series, scan);
            return true;
        });
        {
            std::lock_guard lock(mutex_);
            running_ = nullptr;
        }
        if (end.kind != SeriesEnd::Completed || runner.series().scans.empty()) {
            const int status = end.kind == SeriesEnd::Failed    ? 502
                               : end.kind == SeriesEnd::Stopped ? 503
                                                                : 409;
            const std::string why = end.why.empty() ? "the server is stopping" : end.why;
            events_.publish("error", Json({{"error", why}}).dump());
            return finish(errorReply(status, why));
        }
        const ScanSeries& series = runner.series();
        finish(
            Reply{200, render([&](FILE* out) { writeJson(out, series); }), "application/json", ""});
    });
    if (!queued) finish(errorReply(503, "the module is busy; try again"));
}

Reply Measurement::load(Kept kind, const Spectrum& spectrum, const std::string& name) {
    ScanSeries series;
    ScanResult scan;
    scan.spectrum = spectrum;
    scan.startedAt = std::chrono::system_clock::now();
    series.referenceFile = name;  // where it came from, for the downloads
    {
        std::lock_guard lock(mutex_);
        if (scanning_ || seriesOn_) return errorReply(409, "a scan is running");
    }
    keep(kind, series, scan);
    changed_();
    return jsonReply({{"loaded", kindName(kind)}, {"points", spectrum.value.size()}});
}

Reply Measurement::startSeries(unsigned long count, double intervalSeconds, LampPolicy lamp,
                               Quantity quantity) {
    SeriesPlan plan;
    if (auto refused = this->plan(Kept::Latest, lamp, quantity, plan)) return *refused;
    plan.count = count;
    plan.intervalSeconds = intervalSeconds;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return errorReply(503, "the server is stopping");
        if (scanning_) return errorReply(409, "a scan is running");
        if (seriesOn_) return errorReply(409, "a series is running; stop it first");
        seriesOn_ = true;
        seriesCount_ = count;
        seriesDone_ = 0;
    }
    // The last series has ended already: its thread only returns.
    if (seriesThread_.joinable()) seriesThread_.join();
    {
        std::lock_guard lock(mutex_);
        series_ = std::make_unique<SeriesRunner>(std::move(plan), lamp_,
                                                 [this](const std::function<void()>& work) {
                                                     if (!jobs_.runAndWait(work)) series_->cancel();
                                                 });
        if (stopping_) series_->cancel();
        seriesThread_ = std::thread([this] {
            const SeriesEnd end =
                series_->run({}, [this](const ScanSeries& series, const ScanResult& scan) {
                    keep(Kept::Latest, series, scan);
                    {
                        std::lock_guard lock(mutex_);
                        seriesDone_ = scan.number;
                    }
                    changed_();
                    return true;
                });
            if (end.kind != SeriesEnd::Completed && !end.why.empty())
                events_.publish("error", Json({{"error", end.why}}).dump());
            {
                std::lock_guard lock(mutex_);
                seriesOn_ = false;
            }
            changed_();
        });
    }
    changed_();
    return jsonReply({{"series", {{"count", count}, {"interval_s", intervalSeconds}}}});
}

Reply Measurement::stopSeries() {
    std::lock_guard lock(mutex_);
    if (!seriesOn_) return jsonReply({{"series", "not running"}});
    if (series_) series_->stop();
    return jsonReply({{"series", "stopping"}});
}

bool Measurement::busy() const {
    std::lock_guard lock(mutex_);
    return scanning_ || seriesOn_;
}

void Measurement::addState(Json& state) const {
    std::lock_guard lock(mutex_);
    state["scanning"] = scanning_;
    state["series"] = {{"running", seriesOn_}, {"done", seriesDone_}, {"count", seriesCount_}};
    state["dark"] = dark_.has_value();
    state["reference"] = reference_.has_value();
}

nlohmann::ordered_json Measurement::spectra() const {
    std::lock_guard lock(mutex_);
    nlohmann::ordered_json all = nlohmann::ordered_json::object();
    for (const auto& [name, kept] :
         {std::pair{"latest", &latest_}, {"dark", &dark_}, {"reference", &reference_}}) {
        const char* kind = kept == &latest_ ? "sample" : name;
        all[name] = kept->has_value() ? spectrumEvent(**kept, kind, "") : nlohmann::ordered_json();
    }
    all["recent"] = nlohmann::ordered_json::array();
    for (const auto& event : recent_) all["recent"].push_back(event);
    return all;
}

Reply Measurement::download(const std::string& which, const std::string& format) const {
    if (format != "csv" && format != "json" && format != "jcamp")
        return errorReply(400, "format must be csv, json or jcamp");
    const std::optional<Kept> kind = keptNamed(which);
    if (!kind) return errorReply(400, "spectrum must be latest, dark or reference");
    std::lock_guard lock(mutex_);
    const std::optional<ScanSeries>& kept = *kind == Kept::Dark        ? dark_
                                            : *kind == Kept::Reference ? reference_
                                                                       : latest_;
    if (!kept) return errorReply(409, "no " + which + " spectrum has been taken yet");
    const ScanSeries& series = *kept;
    if (format == "jcamp")
        return Reply{200, render([&](FILE* out) { writeJcamp(out, series, series.scans.front()); }),
                     "chemical/x-jcamp-dx", "quillon-" + which + ".jdx"};
    const bool csv = format == "csv";
    return Reply{200, render([&](FILE* out) { (csv ? writeCsv : writeJson)(out, series); }),
                 csv ? "text/csv" : "application/json", "quillon-" + which + "." + format};
}

void Measurement::shutdown() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (running_ != nullptr) running_->cancel();
        if (series_) series_->cancel();
    }
    if (seriesThread_.joinable()) seriesThread_.join();
}

}  // namespace quillon::cli::serve
