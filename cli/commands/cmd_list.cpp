// quillon list: the attached modules.
#include <cstdio>

#include "command_frame.h"
#include "exit_status.h"
#include "library_console.h"
#include "quillonlib.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon list\n"
    "\n"
    "Lists the attached modules (USB 0451:4200) with the index that --device takes.\n"
    "Exits with 1 when no module is attached.\n";

}  // namespace

int runList(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("list", kHelp, words, {}, global, args)) return *done;
    if (!args.positional.empty())
        return usageError("list", "unexpected '" + args.positional[0] + "'");
    setLogSwitch(global.log ? 1 : 0);
    unsigned int count = 0;
    if (enumerateDevices(&count) != 0) {
        reportLibraryFailure("no module found");
        return kExitFailed;
    }
    FILE* out = LibraryConsole::out();
    std::fprintf(out, "%u module%s found\n", count, count == 1 ? "" : "s");
    for (unsigned i = 0; i < count; ++i) std::fprintf(out, "  %u  USB 0451:4200\n", i);
    return kExitOk;
}

}  // namespace quillon::cli
