// Read-only questions about the configuration views: names, sections, the
// values of one section, and the patterns still free in a stored one.
#pragma once

#include <string>

#include "core/session.h"

namespace quillon {

int getScanSectionNumberOp(const SpectrometerSession& session);
int getScanSectionNameOp(const SpectrometerSession& session, int index, char* buffer,
                         unsigned int bufferLength);
int getScanSectionNameNumberOp(const SpectrometerSession& session, const std::string& name);
int getScanSectionNameCfgOp(const SpectrometerSession& session, const std::string& name,
                            int sectionIndex, char* typeBuffer, unsigned int bufferLength,
                            TargetSection& out);
int getRemainPatternsNum(SpectrometerSession& session, const std::string& name, uint8_t section,
                         uint16_t* remaining);

}  // namespace quillon
