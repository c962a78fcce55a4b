// quillon list: the attached modules.
#include <cstdio>

#include "command_frame.h"
#include "exit_status.h"
#include "library_console.h"
#include "module_handle.h"
#include "quillonlib.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon list\n"
    "\n"
    "Lists the attached modules (USB 0451:4200): the index and the serial number\n"
    "that --device takes, and the module's path. Exits with 1 when none is attached.\n";

}  // namespace

int runList(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("list", kHelp, words, {}, global, args)) return *done;
    if (!args.positional.empty())
        return usageError("list", "unexpected '" + args.positional[0] + "'");
    setLogSwitch(global.log ? 1 : 0);
    const auto modules = listModules();
    if (!modules) return kExitFailed;
    if (modules->empty()) {
        reportResult("no module found", QUILLON_ERR_NOT_FOUND);
        return kExitFailed;
    }
    FILE* out = LibraryConsole::out();
    std::fprintf(out, "%zu module%s found\n", modules->size(), modules->size() == 1 ? "" : "s");
    for (size_t i = 0; i < modules->size(); ++i) {
        const quillon_module_info& info = (*modules)[i];
        std::fprintf(out, "  %zu  %s  %s\n", i, *info.serial != '\0' ? info.serial : "-",
                     info.path);
    }
    return kExitOk;
}

}  // namespace quillon::cli
