// The module's stored configurations by position, under their real names,
// read through quillon.h without a word to the module.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "quillon.h"
#include "stored_configs.h"

namespace quillon::cli {

struct StoredConfig {
    size_t position = 0;
    ConfigView view;
};

// Every stored configuration, in position order.
std::vector<StoredConfig> configurationsOf(quillon_module* module);

// The module's active position; nothing (reported) when it cannot be read.
std::optional<size_t> activePositionOf(quillon_module* module);

// The position of the configuration named `name`: nothing, with the reason in
// `why`, when none or several carry that name.
std::optional<size_t> positionNamed(const std::vector<StoredConfig>& configs,
                                    const std::string& name, std::string& why);

// The configuration at `position`, or null.
const StoredConfig* atPosition(const std::vector<StoredConfig>& configs, size_t position);

}  // namespace quillon::cli
