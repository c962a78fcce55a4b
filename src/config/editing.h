// Editing the caller's view section by section, committing one configuration
// (validated against the module's limits) and removing one; each change of the
// stored list is saved to the module.
#pragma once

#include <string>
#include <vector>

#include "core/session.h"

namespace quillon {

int setTgtCfgOp(SpectrometerSession& session, const std::string& name, int sectionIndex,
                const TargetSection& section);
int setTgtCfgsOp(SpectrometerSession& session, const std::string& name, uint16_t numRepeats);
int setTargetLists(SpectrometerSession& session, const std::string& name,
                   std::vector<TargetSection> sections, uint16_t numRepeats);
int removeTargetCfg(SpectrometerSession& session, const std::string& name);

}  // namespace quillon
