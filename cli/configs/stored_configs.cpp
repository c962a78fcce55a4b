#include "stored_configs.h"

#include <cstring>

#include "quillonlib.h"

namespace quillon::cli {
namespace {

// Names are at most 39 bytes on the module; the library copies without a NUL,
// so the buffer is zeroed and kept longer than any name.
constexpr unsigned kNameBuffer = 256;
// The module stores at most this many configurations.

std::string quoted(const std::string& name) {
    return "\"" + name + "\"";
}

}  // namespace

unsigned ConfigView::points() const {
    unsigned sum = 0;
    for (const SectionView& section : sections) sum += section.patterns;
    return sum;
}

std::vector<ConfigView> readConfigurations() {
    std::vector<ConfigView> configs;
    const int count = getScanSectionNumber();
    for (int i = 0; i < count; ++i) {
        char name[kNameBuffer] = {};
        if (getScanSectionName(i, name, kNameBuffer - 1) != 0) continue;
        ConfigView config;
        config.name = name;
        const int sections = getScanSectionNameNumber(name);
        for (int s = 0; s < sections; ++s) {
            char type[32] = {};
            SectionView view;
            unsigned short start = 0, end = 0, patterns = 0;
            if (getScanSectionNameCfg(name, s, type, sizeof type - 1, &view.width, &start, &end,
                                      &patterns, &view.exposure) != 0)
                continue;
            view.type = type;
            view.startNm = start;
            view.endNm = end;
            view.patterns = patterns;
            config.sections.push_back(view);
        }
        configs.push_back(std::move(config));
    }
    return configs;
}

const ConfigView* findByName(const std::vector<ConfigView>& configs, const std::string& name) {
    for (const ConfigView& config : configs)
        if (config.name == name) return &config;
    return nullptr;
}

std::optional<unsigned> activePoints() {
    unsigned int length = 0;  // the library adds to it
    if (getFormattedSpectrumLengths(&length) != 0) return std::nullopt;
    return length;
}

std::optional<int> activePosition() {
    int index = -1;
    getActiveScanIndex(&index);
    if (index < 0) return std::nullopt;
    return index;
}

std::vector<const ConfigView*> candidatesFor(const std::vector<ConfigView>& configs,
                                             unsigned points) {
    std::vector<const ConfigView*> found;
    for (const ConfigView& config : configs)
        if (config.points() == points) found.push_back(&config);
    return found;
}

const ConfigView* activeConfiguration(const std::vector<ConfigView>& configs) {
    std::optional<unsigned> points = activePoints();
    if (!points) return nullptr;
    std::vector<const ConfigView*> found = candidatesFor(configs, *points);
    return found.size() == 1 ? found.front() : nullptr;
}

bool probePositions(std::vector<unsigned>& pointsAtPosition, std::string& why) {
    pointsAtPosition.clear();
    std::optional<int> original = activePosition();
    if (!original) {
        why = "the module's active position cannot be read";
        return false;
    }
    for (int position = 0; position < kMaxConfigs; ++position) {
        // The module takes any position; the library knows which ones hold a
        // configuration and refuses to size the others.
        if (setActiveScanIndex(static_cast<unsigned char>(position)) != 0) break;
        std::optional<unsigned> points = activePoints();
        if (!points) break;
        pointsAtPosition.push_back(*points);
    }
    if (setActiveScanIndex(static_cast<unsigned char>(*original)) != 0) {
        why = "the active position " + std::to_string(*original) + " could not be restored";
        return false;
    }
    return true;
}

std::optional<int> positionOfName(const std::vector<ConfigView>& configs,
                                  const std::vector<unsigned>& pointsAtPosition,
                                  const std::string& name, std::string& why) {
    const ConfigView* config = findByName(configs, name);
    if (config == nullptr) {
        why = "no stored configuration is named " + quoted(name);
        return std::nullopt;
    }
    const unsigned points = config->points();
    std::vector<int> positions;
    for (size_t p = 0; p < pointsAtPosition.size(); ++p)
        if (pointsAtPosition[p] == points) positions.push_back(static_cast<int>(p));
    std::vector<const ConfigView*> sameCount = candidatesFor(configs, points);
    if (positions.size() == 1 && sameCount.size() == 1) return positions.front();

    why = "cannot tell the stored position of " + quoted(name) + ": ";
    if (positions.empty()) {
        why += "no position holds " + std::to_string(points) + " points";
        return std::nullopt;
    }
    why += "positions";
    for (int p : positions) why += " " + std::to_string(p);
    why += " hold " + std::to_string(points) + " points, as do";
    for (size_t i = 0; i < sameCount.size(); ++i)
        why += (i == 0 ? " " : ", ") + quoted(sameCount[i]->name);
    why += "; use the position instead (quillon configs --positions lists them)";
    return std::nullopt;
}

}  // namespace quillon::cli
