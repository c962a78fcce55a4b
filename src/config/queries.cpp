#include "config/queries.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "config/model.h"
#include "core/errors.h"
#include "core/limits.h"

namespace quillon {
namespace {

// Each name once, in the map's order; the empty name is never listed.
std::vector<std::string> listedNames(const Module& module) {
    std::vector<std::string> names;
    std::string last;
    for (const auto& [name, section] : module.targetConfigs) {
        if (name == last) continue;
        names.push_back(name);
        last = name;
    }
    return names;
}

void copyCut(const std::string& text, char* buffer, unsigned int bufferLength) {
    if (buffer != nullptr)
        std::memcpy(buffer, text.data(), std::min<size_t>(text.size(), bufferLength));
}

}  // namespace

int getScanSectionNumberOp(const Module& module) {
    return static_cast<int>(listedNames(module).size());
}

Outcome getScanSectionNameOp(const Module& module, int index, char* buffer,
                             unsigned int bufferLength) {
    std::vector<std::string> names = listedNames(module);
    if (index < 0 || static_cast<size_t>(index) >= names.size())
        return failedKeeping(Kind::InvalidArgument, kParamInError);
    copyCut(names[static_cast<size_t>(index)], buffer, bufferLength);
    return succeededQuietly();
}

int getScanSectionNameNumberOp(const Module& module, const std::string& name) {
    return static_cast<int>(module.targetConfigs.count(name));
}

Outcome getScanSectionNameCfgOp(const Module& module, const std::string& name, int sectionIndex,
                                char* typeBuffer, unsigned int bufferLength, TargetSection& out) {
    auto [first, last] = module.targetConfigs.equal_range(name);
    int count = static_cast<int>(std::distance(first, last));
    if (sectionIndex < 0 || sectionIndex >= count)
        return failedKeeping(Kind::InvalidArgument, kParamInError);
    out = std::next(first, sectionIndex)->second;
    copyCut(out.typeName, typeBuffer, bufferLength);
    return succeededQuietly();
}

Outcome getRemainPatternsNum(Module& module, const std::string& name, uint8_t section,
                             uint16_t* remaining) {
    int position = findConfig(module.scanConfigs, name);
    if (position < 0) {
        QUILLON_LOG(module, "getRemainPatternsNum", LOG_ERROR, "Configuration name not found");
        return failed(Kind::InvalidArgument, kParamInError);
    }
    SectionList list = sectionsOf(module.scanConfigs[static_cast<size_t>(position)]);
    if (section == 0 || section > list.count) {
        QUILLON_LOG(module, "getRemainPatternsNum", LOG_ERROR, "Section number error");
        return failed(Kind::InvalidArgument, kParamInError);
    }
    uint16_t sum = 0;
    for (int s = 0; s < list.count; ++s)
        if (s != section - 1) sum = static_cast<uint16_t>(sum + list.sections[s].numPatterns);
    if (remaining != nullptr) *remaining = static_cast<uint16_t>(kMaxPatterns - sum);
    QUILLON_LOG(module, "getRemainPatternsNum", LOG_DEBUG, "Get remain patterns number success");
    return succeeded();
}

}  // namespace quillon
