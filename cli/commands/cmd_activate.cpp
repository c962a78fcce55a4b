// quillon activate INDEX|NAME: choose the configuration the module scans with.
#include <cstdio>

#include "command_frame.h"
#include "exit_status.h"
#include "library_console.h"
#include "module_configs.h"
#include "module_handle.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon activate INDEX|NAME\n"
    "\n"
    "Makes a stored configuration the module's active one; scans use it from then on.\n"
    "INDEX is the configuration's position on the module, from 0 (a word of digits\n"
    "only is always a position; `quillon configs` shows them). NAME is a\n"
    "configuration name; a name that several configurations share is refused with\n"
    "their positions.\n";

constexpr unsigned long kMaxPosition = kMaxConfigs - 1;

}  // namespace

int runActivate(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("activate", kHelp, words, {}, global, args)) return *done;
    if (args.positional.size() != 1)
        return usageError("activate", "give one INDEX or NAME (quote names with spaces)");
    const std::string& target = args.positional[0];
    const bool isPosition = target.find_first_not_of("0123456789") == std::string::npos;
    unsigned long number = 0;
    if (isPosition && !parseUnsigned(target, 0, kMaxPosition, number))
        return usageError("activate", "position " + target + " is beyond the 20 a module stores");
    ModuleHandle module(global);
    if (!module.ok()) return kExitFailed;
    const std::vector<StoredConfig> configs = configurationsOf(module.get());
    size_t position = number;
    if (!isPosition) {
        std::string why;
        const std::optional<size_t> named = positionNamed(configs, target, why);
        if (!named) {
            reportError(why);
            return kExitFailed;
        }
        position = *named;
    }
    const StoredConfig* config = atPosition(configs, position);
    if (config == nullptr) {
        reportError("position " + std::to_string(position) + " holds no configuration");
        return kExitFailed;
    }
    if (const quillon_result r = quillon_active_set(module.get(), position); r != QUILLON_OK) {
        reportResult("the module refused position " + std::to_string(position), r);
        return kExitFailed;
    }
    std::fprintf(LibraryConsole::out(), "Active: position %zu, \"%s\" (%u points)\n", position,
                 config->view.name.c_str(), config->view.points());
    return kExitOk;
}

}  // namespace quillon::cli
