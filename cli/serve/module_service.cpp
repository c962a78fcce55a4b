#include "module_service.h"

#include <cstdio>

#include "config_store.h"
#include "library_console.h"
#include "quillonlib.h"
#include "stored_configs.h"

namespace quillon::cli::serve {
namespace {

// Jobs waiting for the module; more are refused (503) rather than queued.
constexpr size_t kMaxWaitingJobs = 64;

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

}  // namespace

ModuleService::ModuleService(EventHub& events)
    : events_(events),
      tables_(buildTables()),
      jobs_(kMaxWaitingJobs),
      measurement_(jobs_, events, lamp_, [this] { publishStatus(); }) {}

ModuleService::~ModuleService() {
    shutdown();
}

void ModuleService::start() {
    jobs_.runAndWait([this] {
        lamp_.set(false);
        refresh();
    });
}

void ModuleService::shutdown() {
    measurement_.shutdown();
    jobs_.shutdown();
    // The module's thread is gone: this thread is the only caller now.
    if (lamp_.switchedOn() && lamp_.state() == true) {
        lamp_.set(false);
        std::fprintf(stderr, "quillon serve: lamp switched off\n");
    }
    LibraryConsole::relay();
}

void ModuleService::query(std::function<Reply()> work, Done done) {
    if (!jobs_.post([work = std::move(work), done](bool run) {
            done(run ? work() : errorReply(503, "the server is stopping"));
            LibraryConsole::relay();
        }))
        done(errorReply(503, "the module is busy; try again"));
}

void ModuleService::change(std::function<Reply()> work, Done done) {
    if (measurement_.busy()) return done(errorReply(409, "a scan or a series is running"));
    query(
        [this, work = std::move(work)] {
            // Checked again in turn: a scan may have been queued meanwhile.
            if (measurement_.busy()) return errorReply(409, "a scan or a series is running");
            Reply reply = work();
            if (reply.status == 200) publishStatus();
            return reply;
        },
        std::move(done));
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

    std::vector<ConfigView> configs = readConfigurations();
    {
        std::lock_guard lock(mutex_);
        std::erase_if(configs, [this](const ConfigView& config) {
            return refusedNames_.contains(config.name);
        });
    }
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
    const std::optional<bool> lamp = lamp_.state();
    state["lamp"] = lamp ? Json(*lamp) : Json(nullptr);
    return state;
}

Json ModuleService::state() const {
    Json state;
    {
        std::lock_guard lock(mutex_);
        state = stateLocked();
    }
    measurement_.addState(state);
    return state;
}

Json ModuleService::configurations() const {
    std::lock_guard lock(mutex_);
    return configs_;
}

void ModuleService::publishStatus() {
    events_.publish("status", state().dump(-1, ' ', false, Json::error_handler_t::replace));
}

void ModuleService::maxPatterns(unsigned startNm, unsigned endNm, unsigned widthIndex,
                                unsigned scanType, Done done) {
    query(
        [=] {
            const int most = getMaxPattern("", static_cast<int>(startNm), static_cast<int>(endNm),
                                           static_cast<unsigned char>(widthIndex + 2), scanType, 0);
            return jsonReply({{"max_patterns", most}});
        },
        std::move(done));
}

void ModuleService::switchLamp(bool on, Done done) {
    change(
        [this, on] {
            if (!lamp_.set(on))
                return errorReply(502,
                                  std::string("the lamp was not switched: ") + getLastException());
            return jsonReply({{"lamp", on}});
        },
        std::move(done));
}

void ModuleService::activate(int position, Done done) {
    change(
        [this, position] {
            const std::optional<int> previous = activePosition();
            if (setActiveScanIndex(static_cast<unsigned char>(position)) != 0) {
                const std::string why = getLastException();
                refresh();
                return errorReply(
                    502, "the module refused position " + std::to_string(position) + ": " + why);
            }
            if (!activePoints()) {
                // The module takes any position; put back the one that worked.
                if (previous) setActiveScanIndex(static_cast<unsigned char>(*previous));
                refresh();
                return errorReply(
                    400, "position " + std::to_string(position) + " holds no configuration");
            }
            refresh();
            return jsonReply({{"active_position", position}});
        },
        std::move(done));
}

void ModuleService::addConfiguration(const std::string& name, std::vector<SectionRequest> sections,
                                     unsigned repeats, Done done) {
    change(
        [this, name, sections = std::move(sections), repeats] {
            const ModuleOutcome outcome = storeConfiguration(name, sections, repeats);
            {
                // The library keeps listing what it was given even when the
                // module refused it; the listing shows what the module holds.
                std::lock_guard lock(mutex_);
                if (outcome.kind == ModuleOutcome::Failed)
                    refusedNames_.insert(name);
                else if (outcome.kind == ModuleOutcome::Done)
                    refusedNames_.erase(name);
            }
            refresh();
            switch (outcome.kind) {
                case ModuleOutcome::Done:
                    return jsonReply({{"stored", name}, {"message", outcome.text}});
                case ModuleOutcome::Invalid:
                    return errorReply(400, outcome.text);
                case ModuleOutcome::Conflict:
                    return errorReply(409, outcome.text);
                default:
                    publishStatus();
                    return errorReply(502, outcome.text);
            }
        },
        std::move(done));
}

void ModuleService::removeConfiguration(const std::string& name, Done done) {
    change(
        [this, name] {
            bool listed = false;
            {
                std::lock_guard lock(mutex_);
                listed = !refusedNames_.contains(name);
            }
            if (!listed || findByName(readConfigurations(), name) == nullptr)
                return errorReply(400, "no stored configuration is named \"" + name + "\"");
            if (removeTgtCfg(name.c_str()) != 0) {
                const std::string why = getLastException();
                refresh();
                return errorReply(502, "cannot remove \"" + name + "\": " + why);
            }
            refresh();
            return jsonReply({{"removed", name}});
        },
        std::move(done));
}

}  // namespace quillon::cli::serve
