// The publisher's modules through quillon.h: each its own handle, so that
// several are measured at once and a scan stops when asked.
#include <atomic>

#include "instrument.h"
#include "quillon.h"
#include "stored_configs.h"

namespace quillon::cli::publish {
namespace {

using Json = nlohmann::ordered_json;

constexpr size_t kMostSections = 5;

std::string failure(const char* what, quillon_result result) {
    return std::string(what) + ": " + quillon_result_text(result);
}

class ModuleInstrument final : public Instrument {
  public:
    ModuleInstrument(quillon_module* module, std::string serial)
        : module_(module), serial_(std::move(serial)) {}
    ~ModuleInstrument() override { quillon_close(module_); }
    ModuleInstrument(const ModuleInstrument&) = delete;
    ModuleInstrument& operator=(const ModuleInstrument&) = delete;

    quillon_module* handle() const override { return module_; }
    const std::string& serial() const override { return serial_; }

    bool read(ModuleFacts& facts, std::string& why) override {
        uint32_t words[7] = {};
        if (!check(quillon_versions(module_, words), "versions", why)) return false;
        facts.versions = std::array<unsigned, 7>{words[0], words[1], words[2], words[3],
                                                 words[4], words[5], words[6]};
        size_t count = 0;
        if (!check(quillon_config_count(module_, &count), "configurations", why)) return false;
        facts.configurations = Json::array();
        std::vector<ConfigView> configs(count);
        for (size_t position = 0; position < count; ++position) {
            if (!config(position, configs[position], why)) return false;
            Json sections = Json::array();
            for (const SectionView& s : configs[position].sections)
                sections.push_back({{"type", s.type},
                                    {"start_nm", s.startNm},
                                    {"end_nm", s.endNm},
                                    {"width", s.width},
                                    {"patterns", s.patterns},
                                    {"exposure", s.exposure}});
            facts.configurations.push_back({{"position", position},
                                            {"name", configs[position].name},
                                            {"points", configs[position].points()},
                                            {"sections", std::move(sections)}});
        }
        size_t active = 0;
        if (!check(quillon_active_get(module_, &active), "active position", why)) return false;
        facts.activePosition = active;
        facts.activeName.reset();
        if (active < count) facts.activeName = configs[active].name;
        return true;
    }

    bool activate(size_t position, std::string& why) override {
        return check(quillon_active_set(module_, position), "activate", why);
    }

    void cancel() override { quillon_cancel(module_); }

    bool gone() const override { return gone_.load(); }

  private:
    bool check(quillon_result result, const char* what, std::string& why) {
        if (result == QUILLON_OK) return true;
        if (result == QUILLON_ERR_DISCONNECTED || result == QUILLON_ERR_NOT_FOUND) gone_ = true;
        why = failure(what, result);
        return false;
    }

    bool config(size_t position, ConfigView& out, std::string& why) {
        char name[64] = {};
        quillon_section sections[kMostSections] = {};
        size_t count = 0;
        if (!check(quillon_config_name(module_, position, name, sizeof name), "configuration",
                   why) ||
            !check(quillon_config_sections(module_, position, sections, kMostSections, &count,
                                           nullptr),
                   "configuration", why))
            return false;
        out.name = name;
        out.sections.clear();
        for (size_t i = 0; i < count; ++i) {
            const char* type = quillon_scan_type_name(sections[i].scan_type);
            out.sections.push_back({type != nullptr ? type : "unknown", sections[i].width_nm,
                                    sections[i].start_nm, sections[i].end_nm, sections[i].patterns,
                                    sections[i].exposure_ms});
        }
        return true;
    }

    quillon_module* module_;
    std::string serial_;
    std::atomic<bool> gone_{false};
};

}  // namespace

bool listModules(std::vector<AttachedModule>& modules, std::string& why) {
    modules.clear();
    size_t count = 0;
    quillon_result result = quillon_list(nullptr, 0, &count);
    std::vector<quillon_module_info> infos(count);
    if (result == QUILLON_OK && count > 0) result = quillon_list(infos.data(), count, &count);
    if (result != QUILLON_OK) {
        why = quillon_result_text(result);
        return false;
    }
    infos.resize(std::min(infos.size(), count));
    for (size_t i = 0; i < infos.size(); ++i) {
        // A module without a serial number is still told apart by its place on the bus.
        std::string serial = infos[i].serial;
        if (serial.empty()) serial = "module" + std::to_string(i);
        // A topic level must not hold MQTT's separators and wildcards.
        for (char& c : serial)
            if (c == '/' || c == '+' || c == '#') c = '_';
        modules.push_back({infos[i].path, serial});
    }
    return true;
}

std::unique_ptr<Instrument> openInstrument(const AttachedModule& module, std::string& why) {
    quillon_module* handle = nullptr;
    const quillon_result result = quillon_open(module.path.c_str(), &handle);
    if (result != QUILLON_OK) {
        why = quillon_result_text(result);
        return nullptr;
    }
    return std::make_unique<ModuleInstrument>(handle, module.serial);
}

}  // namespace quillon::cli::publish
