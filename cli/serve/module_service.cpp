#include "module_service.h"

#include <cstdio>

#include "arguments.h"
#include "config_store.h"
#include "library_console.h"
#include "output_json.h"
#include "quillonlib.h"
#include "scan_runner.h"
#include "section_values.h"
#include "spectrum_output.h"
#include "stored_configs.h"

namespace quillon::cli::serve {
namespace {

constexpr size_t kMaxQueuedJobs = 16;
constexpr long kMaxPosition = kMaxConfigs - 1;
const char* const kLampModes = "lamp must be \"on\", \"off\" or \"keep\"";

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

Json sectionJson(const SectionView& s) {
    return {{"type", s.type},   {"start_nm", s.startNm},  {"end_nm", s.endNm},
            {"width", s.width}, {"patterns", s.patterns}, {"exposure", s.exposure}};
}

Json buildTables() {
    Json types = Json::array(), widths = Json::array(), exposures = Json::array();
    for (int i = 0; i < getScanTypesNumber(); ++i) types.push_back(getScanTypesName(i));
    for (unsigned i = 0; i < getWidthPixelsNumber(); ++i)
        widths.push_back({{"width", getWidthPixel(static_cast<int>(i))}, {"pixels", i + 2}});
    for (unsigned i = 0; i < getExposureTimesNumber(); ++i)
        exposures.push_back(getExposureTime(static_cast<int>(i)));
    unsigned int minimum = 0, maximum = 0;
    getPatternsRange(&minimum, &maximum);
    return {{"types", types},
            {"widths", widths},
            {"exposures", exposures},
            {"patterns", {{"min", minimum}, {"max", maximum}}},
            {"wavelength_nm", {{"min", kMinWavelengthNm}, {"max", kMaxWavelengthNm}}},
            {"max_sections", kMaxSections}};
}

// A text field of a request body, or nothing when it is absent or not a text.
std::optional<std::string> textField(const Json& body, const char* key) {
    auto it = body.find(key);
    if (it == body.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

// A whole number in [minimum, maximum]; `fallback` when absent.
std::optional<long> countField(const Json& body, const char* key, long minimum, long maximum,
                               std::optional<long> fallback) {
    auto it = body.find(key);
    if (it == body.end()) return fallback;
    if (!it->is_number_integer()) return std::nullopt;
    const long value = it->get<long>();
    if (value < minimum || value > maximum) return std::nullopt;
    return value;
}

}  // namespace

Reply jsonReply(const Json& body, int status) {
    return Reply{status, body.dump(), "application/json", ""};
}

Reply errorReply(int status, const std::string& text) {
    return jsonReply({{"error", text}}, status);
}

ModuleService::ModuleService(EventHub& events) : events_(events), tables_(buildTables()) {
    worker_ = std::thread([this] { workerLoop(); });
}

ModuleService::~ModuleService() {
    shutdown();
}

void ModuleService::start() {
    run(Admission::Query, [this] {
        refresh();
        return jsonReply(Json::object());
    });
}

void ModuleService::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && !worker_.joinable()) return;
        seriesStop_ = true;
    }
    seriesWake_.notify_all();
    if (series_.joinable()) series_.join();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
    // The module's thread is gone: this thread is the only caller now.
    if (switchedOn_ && lampOn_.value_or(false)) {
        setLampStatus(0);
        std::fprintf(stderr, "quillon serve: lamp switched off\n");
    }
    LibraryConsole::relay();
}

Reply ModuleService::run(Admission admission, std::function<Reply()> work) {
    std::future<Reply> reply;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return errorReply(409, "the server is stopping");
        const bool changes = admission == Admission::Change || admission == Admission::Scan;
        if (changes && scanning_) return errorReply(409, "a scan is running");
        if (changes && seriesOn_) return errorReply(409, "a series is running; stop it first");
        if (jobs_.size() >= kMaxQueuedJobs) return errorReply(409, "the module is busy");
        Job job;
        job.work = std::move(work);
        job.scan = admission == Admission::Scan || admission == Admission::SeriesScan;
        if (job.scan) scanning_ = true;
        reply = job.done.get_future();
        jobs_.push_back(std::move(job));
    }
    wake_.notify_all();
    return reply.get();
}

void ModuleService::workerLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        if (job.scan) publishStatus();
        Reply reply = job.work();
        LibraryConsole::relay();
        if (job.scan) {
            {
                std::lock_guard lock(mutex_);
                scanning_ = false;
                for (const Job& queued : jobs_) scanning_ = scanning_ || queued.scan;
            }
            publishStatus();
        }
        job.done.set_value(std::move(reply));
    }
}

void ModuleService::refresh() {
    Json module;
    std::array<unsigned, 7> v{};
    if (getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]) == 0)
        module["versions"] = v;
    else
        module["versions"] = nullptr;
    module["estimated_scan_time_ms"] = getEstimatedScanTime();
    const std::optional<int> position = activePosition();
    const std::optional<unsigned> points = activePoints();
    module["active_position"] = position ? Json(*position) : Json(nullptr);
    module["points"] = points ? Json(*points) : Json(nullptr);

    const std::vector<ConfigView> configs = readConfigurations();
    const ConfigView* active = activeConfiguration(configs);
    module["active_name"] = active ? Json(active->name) : Json(nullptr);
    module["stored"] = configs.size();
    std::vector<unsigned> pointsAtPosition;
    std::string why;
    const bool probed = probePositions(pointsAtPosition, why);
    Json list = Json::array();
    for (const ConfigView& config : configs) {
        Json sections = Json::array();
        for (const SectionView& s : config.sections) sections.push_back(sectionJson(s));
        std::optional<int> at;
        if (probed) at = positionOfName(configs, pointsAtPosition, config.name, why);
        list.push_back({{"name", config.name},
                        {"points", config.points()},
                        {"position", at ? Json(*at) : Json(nullptr)},
                        {"active", &config == active},
                        {"sections", sections}});
    }
    std::lock_guard lock(mutex_);
    module_ = std::move(module);
    configs_ = std::move(list);
}

Json ModuleService::stateLocked() const {
    Json state = module_;
    state["lamp"] = lampOn_ ? Json(*lampOn_) : Json(nullptr);
    state["scanning"] = scanning_;
    state["series"] = {{"running", seriesOn_}, {"done", seriesDone_}, {"count", seriesCount_}};
    state["dark"] = dark_.has_value();
    state["reference"] = reference_.has_value();
    return state;
}

Json ModuleService::state() const {
    std::lock_guard lock(mutex_);
    return stateLocked();
}

Json ModuleService::configurations() const {
    std::lock_guard lock(mutex_);
    return configs_;
}

void ModuleService::publishStatus() {
    std::string text;
    {
        std::lock_guard lock(mutex_);
        text = stateLocked().dump();
    }
    events_.publish("status", text);
}

void ModuleService::switchLamp(bool on) {
    setLampStatus(on ? 1 : 0);
    std::lock_guard lock(mutex_);
    lampOn_ = on;
    if (on) switchedOn_ = true;
}

std::optional<bool> ModuleService::applyLamp(Lamp lamp) {
    std::optional<bool> before;
    {
        std::lock_guard lock(mutex_);
        before = lampOn_;
    }
    if (lamp == Lamp::Keep) return before;
    const bool on = lamp == Lamp::On;
    if (before != on) switchLamp(on);
    return before;
}

void ModuleService::restoreLamp(std::optional<bool> before) {
    bool now = false;
    {
        std::lock_guard lock(mutex_);
        now = lampOn_.value_or(false);
    }
    // Back to how it was; a lamp of unknown state that was switched on goes off.
    const bool wanted = before.value_or(false);
    if (now != wanted) switchLamp(wanted);
}

std::optional<Quantity> quantityField(const Json& request) {
    if (!request.contains("quantity")) return Quantity::Intensity;
    for (Quantity q : {Quantity::Intensity, Quantity::Reflectance, Quantity::Absorbance})
        if (request["quantity"] == namesOf(q).key) return q;
    return std::nullopt;
}

const char* const kQuantities = "quantity must be \"intensity\", \"reflectance\" or \"absorbance\"";

Reply ModuleService::measure(const std::string& kind, unsigned number, double startedSeconds,
                             Quantity quantity) {
    ScanSeries series;
    MeasureOptions options;
    std::string why;
    if (!describeModule(series, options.points, why)) {
        events_.publish("error", Json({{"error", why}}).dump());
        return errorReply(409, why);
    }
    ScanResult scan;
    scan.number = number;
    scan.startedSeconds = startedSeconds;
    if (!measureSpectrum(options, scan.spectrum, why)) {
        events_.publish("error", Json({{"error", why}}).dump());
        return errorReply(502, why);
    }
    std::string note;
    if (quantity != Quantity::Intensity) {
        std::optional<ScanSeries> white, dark;
        {
            std::lock_guard lock(mutex_);
            white = reference_;
            dark = dark_;
        }
        if (!white) return errorReply(409, "take a white reference first");
        std::vector<double> darkValues;
        for (const auto& [kept, name] :
             {std::pair{&white, "white reference"}, {&dark, "dark spectrum"}}) {
            if (!*kept) continue;
            const Spectrum& other = (*kept)->scans.front().spectrum;
            if (auto difference =
                    wavelengthDifference(other.wavelengthNm, scan.spectrum.wavelengthNm))
                return errorReply(409, std::string("the wavelengths of the ") + name +
                                           " differ from this scan's: " + *difference +
                                           " (take it again with this configuration)");
        }
        if (dark) darkValues = dark->scans.front().spectrum.value;
        QuantityTally tally;
        scan.spectrum.value = computeQuantity(
            quantity, scan.spectrum.value, white->scans.front().spectrum.value, darkValues, tally);
        series.quantity = quantity;
        series.referenceFile = "the session's white reference";
        if (dark) series.darkFile = "the session's dark spectrum";
        note = tally.describe();
    }
    series.scans.push_back(std::move(scan));
    const std::string document = render([&](FILE* out) { writeJson(out, series); });
    nlohmann::ordered_json event = seriesJson(series);
    event["kind"] = kind;
    if (!note.empty()) event["note"] = note;
    {
        std::lock_guard lock(mutex_);
        std::optional<ScanSeries>& slot = kind == "dark"        ? dark_
                                          : kind == "reference" ? reference_
                                                                : latest_;
        slot = std::move(series);
    }
    events_.publish("spectrum", event.dump(-1, ' ', false, Json::error_handler_t::replace));
    return Reply{200, document, "application/json", ""};
}

std::optional<ModuleService::Lamp> ModuleService::lampMode(const Json& request) {
    const std::optional<std::string> mode = textField(request, "lamp");
    if (!request.contains("lamp") || mode == "keep") return Lamp::Keep;
    if (mode == "on") return Lamp::On;
    if (mode == "off") return Lamp::Off;
    return std::nullopt;
}

Reply ModuleService::scan(const Json& request) {
    const std::optional<Lamp> lamp = lampMode(request);
    if (!lamp) return errorReply(400, kLampModes);
    const std::optional<Quantity> quantity = quantityField(request);
    if (!quantity) return errorReply(400, kQuantities);
    return run(Admission::Scan, [this, lamp = *lamp, quantity = *quantity] {
        const std::optional<bool> before = applyLamp(lamp);
        Reply reply = measure("sample", 1, 0, quantity);
        if (lamp != Lamp::Keep) restoreLamp(before);
        return reply;
    });
}

Reply ModuleService::capture(const std::string& kind) {
    // A dark spectrum is measured with the lamp off, a white reference with it on.
    const Lamp lamp = kind == "dark" ? Lamp::Off : Lamp::On;
    return run(Admission::Scan, [this, lamp, kind] {
        const std::optional<bool> before = applyLamp(lamp);
        Reply reply = measure(kind, 1, 0, Quantity::Intensity);
        restoreLamp(before);
        return reply;
    });
}

Reply ModuleService::lamp(const Json& request) {
    auto on = request.find("on");
    if (on == request.end() || !on->is_boolean())
        return errorReply(400, "say {\"on\": true} or {\"on\": false}");
    const bool wanted = on->get<bool>();
    Reply reply = run(Admission::Change, [this, wanted] {
        switchLamp(wanted);
        return jsonReply({{"lamp", wanted}});
    });
    if (reply.status == 200) publishStatus();
    return reply;
}

Reply ModuleService::activate(const Json& request) {
    const std::optional<long> position = countField(request, "position", 0, kMaxPosition, {});
    if (!position)
        return errorReply(
            400, "position must be a stored position from 0 to " + std::to_string(kMaxPosition));
    Reply reply = run(Admission::Change, [this, position] {
        const std::optional<int> previous = activePosition();
        if (setActiveScanIndex(static_cast<unsigned char>(*position)) != 0)
            return errorReply(502, "the module refused position " + std::to_string(*position) +
                                       ": " + getLastException());
        if (!activePoints()) {
            // The module takes any position; put back the one that worked.
            if (previous) setActiveScanIndex(static_cast<unsigned char>(*previous));
            refresh();
            return errorReply(400,
                              "position " + std::to_string(*position) + " holds no configuration");
        }
        refresh();
        return jsonReply({{"active_position", *position}});
    });
    if (reply.status == 200) publishStatus();
    return reply;
}

Reply ModuleService::addConfiguration(const Json& request) {
    const std::optional<std::string> name = textField(request, "name");
    if (!name) return errorReply(400, "a configuration needs a \"name\" text");
    if (auto why = checkConfigName(*name)) return errorReply(400, *why);
    const std::optional<long> repeats = countField(request, "repeats", 1, 65535, 1);
    if (!repeats) return errorReply(400, "repeats must be a count from 1 to 65535");
    auto given = request.find("sections");
    if (given == request.end() || !given->is_array() || given->size() > kMaxSections)
        return errorReply(400, "sections must be a list of one to five sections");
    static const std::pair<const char*, const char*> kKeys[] = {
        {"type", "type"},   {"start_nm", "start"},    {"end_nm", "end"},
        {"width", "width"}, {"patterns", "patterns"}, {"exposure", "exposure"}};
    std::vector<SectionRequest> sections(given->size());
    for (size_t i = 0; i < given->size(); ++i) {
        const Json& section = (*given)[i];
        const std::string which = "section " + std::to_string(i + 1) + ": ";
        if (!section.is_object()) return errorReply(400, which + "not an object");
        std::map<std::string, std::string> fields;
        for (const auto& [key, field] : kKeys) {
            auto value = section.find(key);
            if (value == section.end()) continue;
            if (value->is_string())
                fields[field] = value->get<std::string>();
            else if (value->is_number())
                fields[field] = value->dump();
            else
                return errorReply(400, which + key + " must be a number or a text");
        }
        if (auto why = sectionFromFields(fields, sections[i])) return errorReply(400, which + *why);
    }
    if (auto why = checkSections(sections)) return errorReply(400, *why);
    Reply reply = run(Admission::Change, [this, name, sections, repeats] {
        const ModuleOutcome outcome =
            storeConfiguration(*name, sections, static_cast<unsigned>(*repeats));
        refresh();
        switch (outcome.kind) {
            case ModuleOutcome::Done:
                return jsonReply({{"stored", *name}, {"message", outcome.text}});
            case ModuleOutcome::Invalid:
                return errorReply(400, outcome.text);
            case ModuleOutcome::Conflict:
                return errorReply(409, outcome.text);
            default:
                return errorReply(502, outcome.text);
        }
    });
    if (reply.status == 200) publishStatus();
    return reply;
}

Reply ModuleService::removeConfiguration(const Json& request) {
    const std::optional<std::string> name = textField(request, "name");
    if (!name) return errorReply(400, "say which configuration: {\"name\": \"...\"}");
    Reply reply = run(Admission::Change, [this, name] {
        if (findByName(readConfigurations(), *name) == nullptr)
            return errorReply(400, "no stored configuration is named \"" + *name + "\"");
        if (removeTgtCfg(name->c_str()) != 0) {
            const std::string why = getLastException();
            refresh();
            return errorReply(502, "cannot remove \"" + *name + "\": " + why);
        }
        refresh();
        return jsonReply({{"removed", *name}});
    });
    if (reply.status == 200) publishStatus();
    return reply;
}

Reply ModuleService::maxPatterns(const std::string& start, const std::string& end,
                                 const std::string& width, const std::string& type) {
    unsigned long startNm = 0, endNm = 0;
    if (!parseUnsigned(start, 0, 65535, startNm) || !parseUnsigned(end, 0, 65535, endNm))
        return errorReply(400, "start_nm and end_nm must be whole nanometres");
    if (auto why = checkRange(static_cast<unsigned>(startNm), static_cast<unsigned>(endNm)))
        return errorReply(400, *why);
    double value = 0;
    if (!parseFiniteDouble(width, value)) return errorReply(400, "width must be a number");
    const std::optional<unsigned> widthIndex = widthIndexOf(value);
    if (!widthIndex)
        return errorReply(400,
                          "width " + width + " is not a pattern width; " + nearestWidths(value));
    const std::optional<unsigned> scanType = scanTypeNamed(type);
    if (!scanType) return errorReply(400, "unknown scan type '" + type + "' (Column or Hadamard)");
    return run(Admission::Query, [=] {
        const int most = getMaxPattern("", static_cast<int>(startNm), static_cast<int>(endNm),
                                       static_cast<unsigned char>(*widthIndex + 2), *scanType, 0);
        return jsonReply({{"max_patterns", most}});
    });
}

Reply ModuleService::startSeries(const Json& request) {
    const std::optional<long> count = countField(request, "count", 0, 1000000, 0);
    if (!count) return errorReply(400, "count must be 0 (until stopped) to 1000000");
    double interval = 0;
    if (auto it = request.find("interval_s"); it != request.end()) {
        if (!it->is_number() || it->get<double>() < 0 || it->get<double>() > 86400)
            return errorReply(400, "interval_s must be seconds from 0 to 86400");
        interval = it->get<double>();
    }
    const std::optional<Lamp> lamp = lampMode(request);
    if (!lamp) return errorReply(400, kLampModes);
    const std::optional<Quantity> quantity = quantityField(request);
    if (!quantity) return errorReply(400, kQuantities);
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return errorReply(409, "the server is stopping");
        if (scanning_) return errorReply(409, "a scan is running");
        if (seriesOn_) return errorReply(409, "a series is running; stop it first");
        seriesOn_ = true;
        seriesStop_ = false;
        seriesCount_ = static_cast<unsigned long>(*count);
        seriesDone_ = 0;
    }
    if (series_.joinable()) series_.join();  // the last series has ended already
    series_ = std::thread([this, count, interval, lamp = *lamp, quantity = *quantity] {
        seriesLoop(static_cast<unsigned long>(*count), interval, lamp, quantity);
    });
    publishStatus();
    return jsonReply({{"series", {{"count", *count}, {"interval_s", interval}}}});
}

Reply ModuleService::stopSeries() {
    {
        std::lock_guard lock(mutex_);
        if (!seriesOn_) return jsonReply({{"series", "not running"}});
        seriesStop_ = true;
    }
    seriesWake_.notify_all();
    return jsonReply({{"series", "stopping"}});
}

void ModuleService::seriesLoop(unsigned long count, double intervalSeconds, Lamp lamp,
                               Quantity quantity) {
    std::optional<bool> before;
    run(Admission::SeriesStep, [&] {
        before = applyLamp(lamp);
        return jsonReply(Json::object());
    });
    const auto first = std::chrono::steady_clock::now();
    const auto interval = std::chrono::duration<double>(intervalSeconds);
    for (unsigned long k = 1; count == 0 || k <= count; ++k) {
        const auto due = first + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                     interval * static_cast<double>(k - 1));
        {
            std::unique_lock lock(mutex_);
            seriesWake_.wait_until(lock, due, [this] { return seriesStop_; });
            if (seriesStop_) break;
        }
        const double started =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
        const Reply reply = run(Admission::SeriesScan, [this, k, started, quantity] {
            return measure("sample", static_cast<unsigned>(k), started, quantity);
        });
        if (reply.status != 200) break;
        std::lock_guard lock(mutex_);
        seriesDone_ = k;
    }
    run(Admission::SeriesStep, [&] {
        if (lamp != Lamp::Keep) restoreLamp(before);
        return jsonReply(Json::object());
    });
    {
        std::lock_guard lock(mutex_);
        seriesOn_ = false;
    }
    publishStatus();
}

Reply ModuleService::download(const std::string& which, const std::string& format) const {
    if (format != "csv" && format != "json" && format != "jcamp")
        return errorReply(400, "format must be csv, json or jcamp");
    std::lock_guard lock(mutex_);
    const std::optional<ScanSeries>* kept = which == "latest"      ? &latest_
                                            : which == "dark"      ? &dark_
                                            : which == "reference" ? &reference_
                                                                   : nullptr;
    if (kept == nullptr) return errorReply(400, "spectrum must be latest, dark or reference");
    if (!kept->has_value()) return errorReply(409, "no " + which + " spectrum has been taken yet");
    const ScanSeries& series = **kept;
    if (format == "jcamp")
        return Reply{200, render([&](FILE* out) { writeJcamp(out, series, series.scans.front()); }),
                     "chemical/x-jcamp-dx", "quillon-" + which + ".jdx"};
    const bool csv = format == "csv";
    return Reply{200, render([&](FILE* out) { (csv ? writeCsv : writeJson)(out, series); }),
                 csv ? "text/csv" : "application/json", "quillon-" + which + "." + format};
}

}  // namespace quillon::cli::serve
