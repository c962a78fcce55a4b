// quillon info: versions, estimated scan time and the active configuration.
#include <cstdio>

#include "command_frame.h"
#include "exit_status.h"
#include "library_console.h"
#include "module_configs.h"
#include "module_handle.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon info\n"
    "\n"
    "Opens the module and prints its serial number, its seven version words, the\n"
    "estimated scan time of the active configuration, and the active configuration\n"
    "with its sections. Only reads: nothing on the module changes.\n";

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
    ModuleHandle module(global);
    if (!module.ok()) return kExitFailed;
    FILE* out = LibraryConsole::out();
    uint32_t v[7] = {};
    if (const quillon_result r = quillon_versions(module.get(), v); r != QUILLON_OK) {
        reportResult("cannot read the module's versions", r);
        return kExitFailed;
    }
    std::fprintf(out, "Versions:");
    for (uint32_t word : v) std::fprintf(out, " 0x%08X", word);
    std::fprintf(out, "\n");
    quillon_module_info identity{};
    if (quillon_module_identity(module.get(), &identity) == QUILLON_OK && *identity.serial != '\0')
        std::fprintf(out, "Serial number: %s\n", identity.serial);
    uint32_t estimate = 0;
    if (const quillon_result r = quillon_estimated_scan_time(module.get(), &estimate);
        r == QUILLON_OK)
        std::fprintf(out, "Estimated scan time: %u ms\n", estimate);
    else
        std::fprintf(out, "Estimated scan time: not available (%s)\n", quillon_result_text(r));

    const std::vector<StoredConfig> configs = configurationsOf(module.get());
    const std::optional<size_t> position = activePositionOf(module.get());
    if (!position) return kExitFailed;
    std::fprintf(out, "Active configuration: position %zu", *position);
    const StoredConfig* active = atPosition(configs, *position);
    if (active == nullptr) {
        std::fprintf(out, ", which holds no configuration\n");
        return kExitOk;
    }
    std::fprintf(out, ", \"%s\" (%u points)\n", active->view.name.c_str(), active->view.points());
    printSections(out, active->view);
    std::fprintf(out, "Stored configurations: %zu (quillon configs lists them)\n", configs.size());
    return kExitOk;
}

}  // namespace quillon::cli
