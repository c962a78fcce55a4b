#include "config/model.h"

#include <algorithm>

namespace quillon {

SectionList sectionsOf(const ScanConfig& config) {
    SectionList list;
    if (config.scanType == kSectionedScanType) {
        list.count = std::min<int>(config.sectioned.numSections, kMaxSections);
        std::copy_n(config.sectioned.sections, list.count, list.sections);
    } else {
        // The single form has no exposure field: the module uses its first setting.
        list.count = 1;
        list.sections[0] = ScanSection{config.scanType,
                                       config.single.widthPixels,
                                       config.single.wavelengthStartNm,
                                       config.single.wavelengthEndNm,
                                       config.single.numPatterns,
                                       0};
    }
    return list;
}

std::string_view configNameOf(const ScanConfig& config) {
    return std::string_view(config.configName, configNameLength(config.configName));
}

int findConfig(const std::deque<ScanConfig>& configs, std::string_view name) {
    for (size_t i = 0; i < configs.size(); ++i)
        if (configNameOf(configs[i]) == name) return static_cast<int>(i);
    return -1;
}

}  // namespace quillon
