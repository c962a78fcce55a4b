#include "config_store.h"

#include <cstdio>

#include "quillonlib.h"
#include "stored_configs.h"

namespace quillon::cli {
namespace {

// The module stores at most this many configurations.

ModuleOutcome outcome(ModuleOutcome::Kind kind, std::string text) {
    return ModuleOutcome{kind, std::move(text)};
}

}  // namespace

ModuleOutcome storeConfiguration(const std::string& name,
                                 const std::vector<SectionRequest>& sections, unsigned repeats) {
    const std::vector<ConfigView> configs = readConfigurations();
    if (findByName(configs, name) != nullptr)
        return outcome(ModuleOutcome::Conflict,
                       "a configuration named \"" + name +
                           "\" is stored already; remove it first with: quillon config rm \"" +
                           name + "\"");
    if (configs.size() >= static_cast<size_t>(kMaxConfigs))
        return outcome(ModuleOutcome::Conflict,
                       "the module holds 20 configurations already; remove one first");
    unsigned int minimum = 0, maximum = 0;
    getPatternsRange(&minimum, &maximum);
    unsigned total = 0;
    // The largest pattern count depends on the module's calibration, known once it is open.
    for (size_t i = 0; i < sections.size(); ++i) {
        const SectionRequest& s = sections[i];
        const int most =
            getMaxPattern(name.c_str(), static_cast<int>(s.startNm), static_cast<int>(s.endNm),
                          static_cast<unsigned char>(s.widthPixels), s.scanType,
                          static_cast<unsigned char>(repeats & 0xFF));
        char range[96];
        std::snprintf(range, sizeof range, "%u-%u nm at width %.2f", s.startNm, s.endNm, s.width);
        const std::string which = "section " + std::to_string(i + 1) + ": " + range;
        if (most < static_cast<int>(minimum))
            return outcome(ModuleOutcome::Invalid,
                           which + " leaves room for no " + s.type + " section");
        if (static_cast<int>(s.patterns) > most)
            return outcome(ModuleOutcome::Invalid,
                           which + " holds at most " + std::to_string(most) + " " + s.type +
                               " patterns, not " + std::to_string(s.patterns));
        total += s.patterns;
    }
    for (size_t i = 0; i < sections.size(); ++i) {
        const SectionRequest& s = sections[i];
        if (setTgtCfg(name.c_str(), static_cast<int>(i), s.type.c_str(),
                      static_cast<unsigned short>(s.startNm), static_cast<unsigned short>(s.endNm),
                      s.width, static_cast<unsigned short>(s.patterns), s.exposure) != 0)
            return outcome(ModuleOutcome::Failed, "section " + std::to_string(i + 1) +
                                                      " was not taken: " + getLastException());
    }
    if (setTgtCfgs(name.c_str(), static_cast<unsigned short>(repeats)) != 0)
        return outcome(ModuleOutcome::Failed,
                       "the module did not store \"" + name +
                           "\" (Hadamard sections count every pattern of their plan toward "
                           "the limit of " +
                           std::to_string(maximum) + "): " + getLastException());
    return outcome(ModuleOutcome::Done,
                   "Stored \"" + name + "\": " + std::to_string(sections.size()) + " section" +
                       (sections.size() == 1 ? "" : "s") + ", " + std::to_string(total) +
                       " points, " + std::to_string(repeats) + " repeat" +
                       (repeats == 1 ? "" : "s"));
}

}  // namespace quillon::cli
