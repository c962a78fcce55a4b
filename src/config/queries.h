// Read-only questions about the configuration views: names, sections, the
// values of one section, and the patterns still free in a stored one.
#pragma once

#include <string>

#include "core/module.h"

namespace quillon {

int getScanSectionNumberOp(const Module& module);
Outcome getScanSectionNameOp(const Module& module, int index, char* buffer,
                             unsigned int bufferLength);
int getScanSectionNameNumberOp(const Module& module, const std::string& name);
Outcome getScanSectionNameCfgOp(const Module& module, const std::string& name, int sectionIndex,
                                char* typeBuffer, unsigned int bufferLength, TargetSection& out);
Outcome getRemainPatternsNum(Module& module, const std::string& name, uint8_t section,
                             uint16_t* remaining);

}  // namespace quillon
