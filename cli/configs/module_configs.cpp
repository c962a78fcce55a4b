#include "module_configs.h"

#include "module_handle.h"

namespace quillon::cli {

std::vector<StoredConfig> configurationsOf(quillon_module* module) {
    std::vector<StoredConfig> configs;
    size_t count = 0;
    if (quillon_config_count(module, &count) != QUILLON_OK) return configs;
    for (size_t p = 0; p < count; ++p) {
        StoredConfig config;
        config.position = p;
        char name[64];
        if (quillon_config_name(module, p, name, sizeof name) == QUILLON_OK)
            config.view.name = name;
        quillon_section sections[8];
        size_t n = 0;
        if (quillon_config_sections(module, p, sections, 8, &n, nullptr) == QUILLON_OK) {
            for (size_t s = 0; s < n; ++s) {
                const quillon_section& q = sections[s];
                const char* type = quillon_scan_type_name(q.scan_type);
                config.view.sections.push_back({type != nullptr ? type : "?", q.width_nm,
                                                q.start_nm, q.end_nm, q.patterns, q.exposure_ms});
            }
        }
        configs.push_back(std::move(config));
    }
    return configs;
}

std::optional<size_t> activePositionOf(quillon_module* module) {
    size_t position = 0;
    const quillon_result result = quillon_active_get(module, &position);
    if (result == QUILLON_OK) return position;
    reportResult("cannot read the active position", result);
    return std::nullopt;
}

std::optional<size_t> positionNamed(const std::vector<StoredConfig>& configs,
                                    const std::string& name, std::string& why) {
    std::vector<size_t> found;
    for (const StoredConfig& config : configs)
        if (config.view.name == name) found.push_back(config.position);
    if (found.size() == 1) return found.front();
    if (found.empty()) {
        why = "no stored configuration is named \"" + name + "\"";
    } else {
        why = "positions";
        for (size_t position : found) why += " " + std::to_string(position);
        why += " are all named \"" + name + "\"; give the position";
    }
    return std::nullopt;
}

const StoredConfig* atPosition(const std::vector<StoredConfig>& configs, size_t position) {
    return position < configs.size() ? &configs[position] : nullptr;
}

}  // namespace quillon::cli
