// Storing a whole list of configurations in one save (an import): every
// configuration is checked before anything is sent, then the list is appended
// to the module's or replaces it, with the active position, journaled like
// every save.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/module.h"

namespace quillon {

// One configuration to store: its record image as a module stored it, or its
// name, sections and repeat count (or both, which must then agree).
struct ConfigToStore {
    std::string name;
    std::vector<TargetSection> sections;
    uint16_t repeats = 1;
    std::vector<uint8_t> record;  // empty: built from the fields
    bool hasFields = true;
};

// A refusal leaves its reason in module.refusal and stores nothing.
// `active` (replace only) must name a position of the new list.
Outcome storeConfigList(Module& module, const std::vector<ConfigToStore>& configs, bool replace,
                        size_t active);

// The record image of the configuration at `position`, as the save sends it.
bool storedRecord(const Module& module, size_t position, std::vector<uint8_t>& record);

}  // namespace quillon
