// quillon activate INDEX|NAME: choose the configuration the module scans with.
#include <cstdio>

#include "command_frame.h"
#include "exit_status.h"
#include "library_console.h"
#include "quillonlib.h"
#include "stored_configs.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon activate INDEX|NAME\n"
    "\n"
    "Makes a stored configuration the module's active one; scans use it from then on.\n"
    "INDEX is the configuration's position on the module, from 0 (a word of digits\n"
    "only is always a position). NAME is a configuration name.\n"
    "\n"
    "The library lists configurations by name but activates them by position, and\n"
    "tells a position only by its number of points. To find the position of NAME,\n"
    "each position is made active in turn; NAME is used when its number of points\n"
    "is unique among the stored configurations. Otherwise use the position, which\n"
    "`quillon configs --positions` shows.\n";

constexpr unsigned long kMaxPosition = kMaxConfigs - 1;

int activatePosition(int position, const std::vector<ConfigView>& configs) {
    std::optional<int> previous = activePosition();
    if (setActiveScanIndex(static_cast<unsigned char>(position)) != 0) {
        reportLibraryFailure("the module refused position " + std::to_string(position));
        return kExitFailed;
    }
    std::optional<unsigned> points = activePoints();
    if (!points) {
        // The module takes any position; put back the one that worked.
        if (previous) setActiveScanIndex(static_cast<unsigned char>(*previous));
        reportError("position " + std::to_string(position) + " holds no configuration");
        return kExitFailed;
    }
    FILE* out = LibraryConsole::out();
    std::fprintf(out, "Active: position %d", position);
    std::vector<const ConfigView*> names = candidatesFor(configs, *points);
    if (names.size() == 1) std::fprintf(out, ", \"%s\"", names[0]->name.c_str());
    std::fprintf(out, " (%u points)\n", *points);
    return kExitOk;
}

}  // namespace

int runActivate(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("activate", kHelp, words, {}, global, args)) return *done;
    if (args.positional.size() != 1)
        return usageError("activate", "give one INDEX or NAME (quote names with spaces)");
    const std::string& target = args.positional[0];
    const bool isPosition = target.find_first_not_of("0123456789") == std::string::npos;
    unsigned long position = 0;
    if (isPosition && !parseUnsigned(target, 0, kMaxPosition, position))
        return usageError("activate", "position " + target + " is beyond the 20 a module stores");

    OpenModule module(global);
    if (!module.ok()) return kExitFailed;
    const std::vector<ConfigView> configs = readConfigurations();
    if (isPosition) return activatePosition(static_cast<int>(position), configs);

    if (findByName(configs, target) == nullptr) {
        reportError("no stored configuration is named \"" + target + "\"");
        return kExitFailed;
    }
    std::vector<unsigned> points;
    std::string why;
    if (!probePositions(points, why)) {
        reportLibraryFailure(why);
        return kExitFailed;
    }
    std::optional<int> found = positionOfName(configs, points, target, why);
    if (!found) {
        reportError(why);
        return kExitFailed;
    }
    return activatePosition(*found, configs);
}

}  // namespace quillon::cli
