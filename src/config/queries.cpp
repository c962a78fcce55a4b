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
std::vector<std::string> listedNames(const SpectrometerSession& session) {
    std::vector<std::string> names;
    std::string last;
    for (const auto& [name, section] : session.targetConfigs) {
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

int getScanSectionNumberOp(const SpectrometerSession& session) {
    return static_cast<int>(listedNames(session).size());
}

int getScanSectionNameOp(const SpectrometerSession& session, int index, char* buffer,
                         unsigned int bufferLength) {
    std::vector<std::string> names = listedNames(session);
    if (index < 0 || static_cast<size_t>(index) >= names.size()) return -1;
    copyCut(names[static_cast<size_t>(index)], buffer, bufferLength);
    return 0;
}

int getScanSectionNameNumberOp(const SpectrometerSession& session, const std::string& name) {
    return static_cast<int>(session.targetConfigs.count(name));
}

int getScanSectionNameCfgOp(const SpectrometerSession& session, const std::string& name,
                            int sectionIndex, char* typeBuffer, unsigned int bufferLength,
                            TargetSection& out) {
    auto [first, last] = session.targetConfigs.equal_range(name);
    int count = static_cast<int>(std::distance(first, last));
    if (sectionIndex < 0 || sectionIndex >= count) return -1;
    out = std::next(first, sectionIndex)->second;
    copyCut(out.typeName, typeBuffer, bufferLength);
    return 0;
}

int getRemainPatternsNum(SpectrometerSession& session, const std::string& name, uint8_t section,
                         uint16_t* remaining) {
    int position = findConfig(session.scanConfigs, name);
    if (position < 0) {
        QUILLON_LOG(session, "getRemainPatternsNum", LOG_ERROR, "Configuration name not found");
        lastErrorCode = kParamInError;
        return -1;
    }
    SectionList list = sectionsOf(session.scanConfigs[static_cast<size_t>(position)]);
    if (section == 0 || section > list.count) {
        QUILLON_LOG(session, "getRemainPatternsNum", LOG_ERROR, "Section number error");
        lastErrorCode = kParamInError;
        return -1;
    }
    uint16_t sum = 0;
    for (int s = 0; s < list.count; ++s)
        if (s != section - 1) sum = static_cast<uint16_t>(sum + list.sections[s].numPatterns);
    if (remaining != nullptr) *remaining = static_cast<uint16_t>(kMaxPatterns - sum);
    QUILLON_LOG(session, "getRemainPatternsNum", LOG_DEBUG, "Get remain patterns number success");
    lastErrorCode = kNoError;
    return 0;
}

}  // namespace quillon
