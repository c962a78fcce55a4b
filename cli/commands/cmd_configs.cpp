// quillon configs: the stored configurations with their sections.
#include <cstdio>

#include "command_frame.h"
#include "exit_status.h"
#include "library_console.h"
#include "stored_configs.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon configs [--positions]\n"
    "\n"
    "Lists the configurations stored on the module, in name order, with their\n"
    "sections, and marks the active one.\n"
    "\n"
    "  --positions  also list the module's stored positions (the numbers that\n"
    "               `quillon activate` takes) with the configuration each holds.\n"
    "               The library tells a position only by its number of points, so\n"
    "               each position is made active in turn and the active one is\n"
    "               restored afterwards.\n";

const OptionSpec kOptions[] = {{"positions", false}};

void printConfig(FILE* out, const ConfigView& config, bool active) {
    std::fprintf(out, "%s \"%s\"  %u points\n", active ? "*" : " ", config.name.c_str(),
                 config.points());
    unsigned n = 1;
    for (const SectionView& s : config.sections)
        std::fprintf(out, "      %u: %-8s %4u-%4u nm  width %5.2f  %3u patterns  exposure %g\n",
                     n++, s.type.c_str(), s.startNm, s.endNm, s.width, s.patterns, s.exposure);
}

}  // namespace

int runConfigs(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("configs", kHelp, words, kOptions, global, args)) return *done;
    if (!args.positional.empty())
        return usageError("configs", "unexpected '" + args.positional[0] + "'");
    OpenModule module(global);
    if (!module.ok()) return kExitFailed;
    FILE* out = LibraryConsole::out();

    const std::vector<ConfigView> configs = readConfigurations();
    const ConfigView* active = activeConfiguration(configs);
    std::optional<int> position = activePosition();
    std::fprintf(out, "%zu stored configuration%s", configs.size(), configs.size() == 1 ? "" : "s");
    if (position) std::fprintf(out, "; active position %d", *position);
    std::fprintf(out, "%s\n", active != nullptr ? " (marked *)" : "");
    for (const ConfigView& config : configs) printConfig(out, config, &config == active);

    if (!args.has("positions")) return kExitOk;
    std::vector<unsigned> points;
    std::string why;
    if (!probePositions(points, why)) {
        reportLibraryFailure(why);
        return kExitFailed;
    }
    std::fprintf(out, "\nStored positions:\n");
    for (size_t p = 0; p < points.size(); ++p) {
        std::fprintf(out, "  %2zu  %3u points ", p, points[p]);
        std::vector<const ConfigView*> names = candidatesFor(configs, points[p]);
        for (size_t i = 0; i < names.size(); ++i)
            std::fprintf(out, "%s\"%s\"", i == 0 ? " " : " or ", names[i]->name.c_str());
        std::fprintf(out, "\n");
    }
    return kExitOk;
}

}  // namespace quillon::cli
