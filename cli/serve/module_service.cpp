#include "module_service.h"

#include <cstdio>

#include "library_console.h"
#include "module_configs.h"
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
    for (size_t i = 0; i < quillon_scan_type_count(); ++i)
        types.push_back(quillon_scan_type_name(static_cast<int>(i)));
    for (size_t i = 0; i < quillon_width_count(); ++i) {
        double width = 0;
        quillon_width(i, &width);
        widths.push_back({{"width", width}, {"pixels", i + 2}});
    }
    for (size_t i = 0; i < quillon_exposure_count(); ++i) {
        double exposure = 0;
        quillon_exposure(i, &exposure);
        exposures.push_back(exposure);
    }
    uint32_t minimum = 0, maximum = 0;
    quillon_pattern_range(&minimum, &maximum);
    return {{"types", types},
            {"widths", widths},
            {"exposures", exposures},
            {"patterns", {{"min", minimum}, {"max", maximum}}},
            {"wavelength_nm", {{"min", kMinWavelengthNm}, {"max", kMaxWavelengthNm}}},
            {"max_sections", kMaxSections}};
}

std::string resultText(quillon_result result) {
    return quillon_result_text(result);
}

}  // namespace

ModuleService::ModuleService(quillon_module* module, const quillon_module_info& info,
                             EventHub& events)
    : module_(module),
      info_(info),
      events_(events),
      tables_(buildTables()),
      jobs_(kMaxWaitingJobs),
      lamp_(module),
      measurement_(jobs_, events, lamp_, module, [this] { publishStatus(); }) {}

ModuleService::~ModuleService() {
    shutdown();
}

Json ModuleService::identity() const {
    return {{"path", info_.path}, {"serial", info_.serial}};
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
        std::fprintf(stderr, "quillon serve: lamp switched off (%s)\n", info_.serial);
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
    uint32_t v[7] = {};
    module["versions"] = quillon_versions(module_, v) == QUILLON_OK ? Json(v) : Json(nullptr);
    uint32_t estimate = 0;
    module["estimated_scan_time_ms"] =
        quillon_estimated_scan_time(module_, &estimate) == QUILLON_OK ? Json(estimate) : Json(-1);
    size_t active = 0, points = 0;
    const bool knowsActive = quillon_active_get(module_, &active) == QUILLON_OK;
    module["active_position"] = knowsActive ? Json(active) : Json(nullptr);
    module["points"] =
        quillon_point_count(module_, &points) == QUILLON_OK ? Json(points) : Json(nullptr);
    const std::vector<StoredConfig> configs = configurationsOf(module_);
    const StoredConfig* current = knowsActive ? atPosition(configs, active) : nullptr;
    module["active_name"] = current ? Json(current->view.name) : Json(nullptr);
    module["stored"] = configs.size();
    module["serial"] = info_.serial;
    Json list = Json::array();
    for (const StoredConfig& config : configs) {
        Json sections = Json::array();
        for (const SectionView& s : config.view.sections) sections.push_back(sectionJson(s));
        list.push_back({{"name", config.view.name},
                        {"points", config.view.points()},
                        {"position", config.position},
                        {"active", &config == current},
                        {"sections", sections}});
    }
    std::lock_guard lock(mutex_);
    moduleState_ = std::move(module);
    configs_ = std::move(list);
}

Json ModuleService::stateLocked() const {
    Json state = moduleState_;
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

void ModuleService::maxPatterns(unsigned startNm, unsigned endNm, double width, unsigned scanType,
                                Done done) {
    query(
        [=, this] {
            uint32_t most = 0;
            const quillon_result result = quillon_max_patterns(
                module_, static_cast<int>(scanType), static_cast<uint16_t>(startNm),
                static_cast<uint16_t>(endNm), width, &most);
            if (result != QUILLON_OK) return errorReply(502, resultText(result));
            return jsonReply({{"max_patterns", most}});
        },
        std::move(done));
}

void ModuleService::switchLamp(bool on, Done done) {
    change(
        [this, on] {
            if (!lamp_.set(on)) return errorReply(502, "the lamp was not switched");
            return jsonReply({{"lamp", on}});
        },
        std::move(done));
}

void ModuleService::activate(size_t position, Done done) {
    change(
        [this, position] {
            const quillon_result result = quillon_active_set(module_, position);
            refresh();
            if (result == QUILLON_ERR_INVALID_ARGUMENT)
                return errorReply(
                    400, "position " + std::to_string(position) + " holds no configuration");
            if (result != QUILLON_OK)
                return errorReply(502, "the module refused position " + std::to_string(position) +
                                           ": " + resultText(result));
            return jsonReply({{"active_position", position}});
        },
        std::move(done));
}

void ModuleService::addConfiguration(const std::string& name, std::vector<SectionRequest> sections,
                                     unsigned repeats, Done done) {
    change(
        [this, name, sections = std::move(sections), repeats] {
            const std::vector<StoredConfig> configs = configurationsOf(module_);
            for (const StoredConfig& config : configs)
                if (config.view.name == name)
                    return errorReply(409, "a configuration named \"" + name +
                                               "\" is stored already; remove it first");
            if (configs.size() >= static_cast<size_t>(kMaxConfigs))
                return errorReply(409, "the module holds " + std::to_string(kMaxConfigs) +
                                           " configurations already; remove one first");
            std::vector<quillon_section> given;
            for (const SectionRequest& s : sections)
                given.push_back({static_cast<int>(s.scanType), s.width,
                                 static_cast<uint16_t>(s.startNm), static_cast<uint16_t>(s.endNm),
                                 static_cast<uint16_t>(s.patterns), s.exposure});
            char reason[256] = "";
            size_t position = 0;
            const quillon_result result = quillon_config_add(
                module_, name.c_str(), given.data(), given.size(), static_cast<uint16_t>(repeats),
                &position, reason, sizeof reason);
            refresh();
            if (result != QUILLON_OK)
                return errorReply(result == QUILLON_ERR_INVALID_ARGUMENT ? 400 : 502,
                                  "the module did not store \"" + name +
                                      "\": " + (reason[0] != '\0' ? reason : resultText(result)));
            return jsonReply({{"stored", name}, {"position", position}});
        },
        std::move(done));
}

void ModuleService::removeConfiguration(const std::string& name, Done done) {
    change(
        [this, name] {
            std::string why;
            const std::optional<size_t> position =
                positionNamed(configurationsOf(module_), name, why);
            if (!position) return errorReply(400, why);
            const quillon_result result = quillon_config_remove(module_, *position);
            refresh();
            if (result != QUILLON_OK)
                return errorReply(502, "cannot remove \"" + name + "\": " + resultText(result));
            return jsonReply({{"removed", name}});
        },
        std::move(done));
}

}  // namespace quillon::cli::serve
