// quillon configs: the stored configurations with their sections.
#include <cstdio>

#include "command_frame.h"
#include "exit_status.h"
#include "library_console.h"
#include "module_configs.h"
#include "module_handle.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon configs [--positions]\n"
    "\n"
    "Lists the configurations stored on the module in position order (the numbers\n"
    "`quillon activate` takes), with their sections, and marks the active one.\n"
    "Only reads: nothing on the module changes.\n"
    "\n"
    "  --positions  also list the positions alone, one line each, with the name\n"
    "               and number of points of the configuration each holds.\n";

const OptionSpec kOptions[] = {{"positions", false}};

void printConfig(FILE* out, const StoredConfig& config, bool active) {
    std::fprintf(out, "%s %2zu  \"%s\"  %u points\n", active ? "*" : " ", config.position,
                 config.view.name.c_str(), config.view.points());
    unsigned n = 1;
    for (const SectionView& s : config.view.sections)
        std::fprintf(out, "      %u: %-8s %4u-%4u nm  width %5.2f  %3u patterns  exposure %g\n",
                     n++, s.type.c_str(), s.startNm, s.endNm, s.width, s.patterns, s.exposure);
}

}  // namespace

int runConfigs(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("configs", kHelp, words, kOptions, global, args)) return *done;
    if (!args.positional.empty())
        return usageError("configs", "unexpected '" + args.positional[0] + "'");
    ModuleHandle module(global);
    if (!module.ok()) return kExitFailed;
    FILE* out = LibraryConsole::out();
    const std::vector<StoredConfig> configs = configurationsOf(module.get());
    const std::optional<size_t> position = activePositionOf(module.get());
    if (!position) return kExitFailed;
    const StoredConfig* active = atPosition(configs, *position);
    std::fprintf(out, "%zu stored configuration%s; active position %zu%s\n", configs.size(),
                 configs.size() == 1 ? "" : "s", *position,
                 active != nullptr ? " (marked *)" : ", which holds no configuration");
    for (const StoredConfig& config : configs) printConfig(out, config, &config == active);
    if (!args.has("positions")) return kExitOk;
    std::fprintf(out, "\nStored positions:\n");
    for (const StoredConfig& config : configs)
        std::fprintf(out, "  %2zu  %3u points  \"%s\"\n", config.position, config.view.points(),
                     config.view.name.c_str());
    return kExitOk;
}

}  // namespace quillon::cli
