// quillon lamp on|off.
#include <cstdio>

#include "command_frame.h"
#include "exit_status.h"
#include "library_console.h"
#include "module_handle.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon lamp on|off\n"
    "\n"
    "Switches the module's lamp. The module does not confirm the switch.\n";

}  // namespace

int runLamp(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("lamp", kHelp, words, {}, global, args)) return *done;
    if (args.positional.size() != 1 || (args.positional[0] != "on" && args.positional[0] != "off"))
        return usageError("lamp", "say on or off");
    const bool on = args.positional[0] == "on";
    ModuleHandle module(global);
    if (!module.ok()) return kExitFailed;
    if (const quillon_result r = quillon_lamp_set(module.get(), on ? 1 : 0); r != QUILLON_OK) {
        reportResult("cannot switch the lamp", r);
        return kExitFailed;
    }
    std::fprintf(LibraryConsole::out(), "Lamp %s\n", on ? "on" : "off");
    return kExitOk;
}

}  // namespace quillon::cli
