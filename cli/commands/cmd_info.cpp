// quillon info: versions, estimated scan time and the active configuration.
#include <cstdio>

#include "command_frame.h"
#include "exit_status.h"
#include "library_console.h"
#include "quillonlib.h"
#include "stored_configs.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon info\n"
    "\n"
    "Opens the module and prints its seven version words, the estimated scan time of\n"
    "the active configuration, and the active configuration with its sections.\n";

void printSections(FILE* out, const ConfigView& config) {
    unsigned n = 1;
    for (const SectionView& s : config.sections)
        std::fprintf(out,
                     "    section %u: %-8s %4u-%4u nm  width %.2f  %3u patterns  exposure %g\n",
                     n++, s.type.c_str(), s.startNm, s.endNm, s.width, s.patterns, s.exposure);
}

}  // namespace

int runInfo(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("info", kHelp, words, {}, global, args)) return *done;
    if (!args.positional.empty())
        return usageError("info", "unexpected '" + args.positional[0] + "'");
    OpenModule module(global);
    if (!module.ok()) return kExitFailed;
    FILE* out = LibraryConsole::out();

    unsigned v[7] = {};
    if (getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]) != 0) {
        reportError("cannot read the module's versions");
        return kExitFailed;
    }
    std::fprintf(out, "Versions:");
    for (unsigned word : v) std::fprintf(out, " 0x%08X", word);
    std::fprintf(out, "\n");

    const int estimate = getEstimatedScanTime();
    if (estimate >= 0)
        std::fprintf(out, "Estimated scan time: %d ms\n", estimate);
    else
        std::fprintf(out, "Estimated scan time: not available (link code %d)\n", estimate);

    const std::vector<ConfigView> configs = readConfigurations();
    std::optional<int> position = activePosition();
    std::optional<unsigned> points = activePoints();
    if (!position) {
        reportLibraryFailure("cannot read the active configuration");
        return kExitFailed;
    }
    std::fprintf(out, "Active configuration: position %d", *position);
    if (!points) {
        std::fprintf(out, ", which holds no configuration\n");
        return kExitOk;
    }
    std::vector<const ConfigView*> candidates = candidatesFor(configs, *points);
    if (candidates.size() == 1) {
        std::fprintf(out, ", \"%s\" (%u points)\n", candidates[0]->name.c_str(), *points);
        printSections(out, *candidates[0]);
    } else {
        std::fprintf(out, ", %u points", *points);
        for (size_t i = 0; i < candidates.size(); ++i)
            std::fprintf(out, "%s\"%s\"", i == 0 ? "; one of " : ", ", candidates[i]->name.c_str());
        std::fprintf(out, "\n");
    }
    std::fprintf(out, "Stored configurations: %zu (quillon configs lists them)\n", configs.size());
    return kExitOk;
}

}  // namespace quillon::cli
