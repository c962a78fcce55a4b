// Reading the sections of a stored configuration, whichever form it was
// stored in: a single-form record holds exactly one section in its head.
#pragma once

#include <deque>
#include <string>
#include <string_view>

#include "serial/records.h"

namespace quillon {

struct SectionList {
    int count = 0;
    ScanSection sections[kMaxSections]{};
};

SectionList sectionsOf(const ScanConfig& config);

// The configuration's name, never read past its 40 bytes.
std::string_view configNameOf(const ScanConfig& config);

// Position of the first record named `name`, or -1.
int findConfig(const std::deque<ScanConfig>& configs, std::string_view name);

}  // namespace quillon
