// The module's stored configurations as the library shows them, and the
// link between a configuration's name and its position on the module.
//
// The library lists configurations by name (in name order) and makes one
// active by position (in the module's stored order); no function maps one to
// the other. The only per-position fact it offers is the number of points of
// the active configuration, so a name is tied to a position by that number,
// and only when the number identifies both sides uniquely.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon::cli {

// The module stores at most this many configurations, at positions 0 to kMaxConfigs - 1.
constexpr int kMaxConfigs = 20;

struct SectionView {
    std::string type;
    double width = 0;
    unsigned startNm = 0;
    unsigned endNm = 0;
    unsigned patterns = 0;
    double exposure = 0;
};

struct ConfigView {
    std::string name;
    std::vector<SectionView> sections;
    unsigned points() const;  // the spectrum's points: one per configured pattern
};

// Every configuration of the library's configuration view (needs an open module).
std::vector<ConfigView> readConfigurations();

const ConfigView* findByName(const std::vector<ConfigView>& configs, const std::string& name);

// Points of the configuration at the library's active position, or nothing
// when no configuration is active there.
std::optional<unsigned> activePoints();

// The module's active position; nothing when it cannot be read.
std::optional<int> activePosition();

// The configurations that could stand at a position of `points` points.
std::vector<const ConfigView*> candidatesFor(const std::vector<ConfigView>& configs,
                                             unsigned points);

// The configuration at the active position when its point count names exactly
// one configuration; null otherwise.
const ConfigView* activeConfiguration(const std::vector<ConfigView>& configs);

// Points of every stored position, found by making each position active in
// turn; the active position is made active again before returning. False,
// with the reason in `why`, when the module refuses.
bool probePositions(std::vector<unsigned>& pointsAtPosition, std::string& why);

// The position of configuration `name` when it can be told unambiguously from
// the probe; otherwise the reason in `why`.
std::optional<int> positionOfName(const std::vector<ConfigView>& configs,
                                  const std::vector<unsigned>& pointsAtPosition,
                                  const std::string& name, std::string& why);

}  // namespace quillon::cli
