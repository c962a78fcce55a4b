// Editing the caller's view section by section, committing one configuration
// (validated against the module's limits) and removing one; each change of the
// stored list is saved to the module.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "core/module.h"

namespace quillon {

Outcome setTgtCfgOp(Module& module, const std::string& name, int sectionIndex,
                    const TargetSection& section);
Outcome setTgtCfgsOp(Module& module, const std::string& name, uint16_t numRepeats);
// Commits `sections` as the configuration `name`: the stored one of that name
// is replaced, or a new one is added.
Outcome setTargetLists(Module& module, const std::string& name, std::vector<TargetSection> sections,
                       uint16_t numRepeats);
Outcome removeTargetCfg(Module& module, const std::string& name);

// By position: `position` replaced (or, when it equals the number stored,
// added) with the configuration `name`; a refusal leaves its reason in
// `module.refusal`. And the configuration at `position` removed.
Outcome storeConfigurationAt(Module& module, size_t position, const std::string& name,
                             std::vector<TargetSection> sections, uint16_t numRepeats);
Outcome removeConfigurationAt(Module& module, size_t position);

// For operations that store a whole list: the checks a committed
// configuration passes (its sections validated into `record`), and the save
// of a list (refused while the module's list was not read whole; the list
// from before written back when the module does not take it).
Outcome checkSections(Module& module, const std::vector<TargetSection>& sections,
                      uint16_t numRepeats, ScanConfig& record);
Outcome saveWholeList(Module& module, const std::deque<ScanConfig>& candidate, uint8_t activeIndex);

}  // namespace quillon
