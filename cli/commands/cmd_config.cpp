// quillon config add|rm: storing and removing configurations on the module.
#include <cstdio>

#include "command_frame.h"
#include "config_store.h"
#include "exit_status.h"
#include "library_console.h"
#include "quillonlib.h"
#include "section_values.h"
#include "stored_configs.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon config add NAME --section SECTION [--section SECTION ...] [--repeats N]\n"
    "       quillon config rm NAME\n"
    "\n"
    "add stores a new configuration of one to five sections on the module. Each\n"
    "SECTION is a comma-separated list of all six keys:\n"
    "  type=Column|Hadamard  start=NM  end=NM  width=W  patterns=P  exposure=E\n"
    "for example\n"
    "  --section type=Hadamard,start=900,end=1700,width=7.03,patterns=120,exposure=0.635\n"
    "Wavelengths are whole nanometres from 900 to 1700 (start not above end); width\n"
    "and exposure are values of the tables that `quillon limits` prints; patterns is\n"
    "at most what `quillon limits --start NM --end NM --width W` reports for the range.\n"
    "--repeats N sets the configuration's repeat count (default 1).\n"
    "Values are checked before anything is sent to the module. The new configuration\n"
    "is stored after the existing ones; it does not become active by itself.\n"
    "\n"
    "rm removes the stored configuration NAME.\n";

const OptionSpec kOptions[] = {{"section", true}, {"repeats", true}};

int addConfig(const std::string& name, const ParsedArguments& args, const GlobalOptions& global) {
    if (auto why = checkConfigName(name)) return usageError("config add", *why);
    const std::vector<std::string> texts = args.values("section");
    if (texts.empty()) return usageError("config add", "at least one --section is needed");
    if (texts.size() > kMaxSections)
        return usageError("config add", std::to_string(texts.size()) +
                                            " sections given; a configuration has at most 5");
    std::vector<SectionRequest> sections(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        if (auto why = parseSection(texts[i], sections[i]))
            return usageError("config add", "section " + std::to_string(i + 1) + ": " + *why);
    }
    if (auto why = checkSections(sections)) return usageError("config add", *why);
    unsigned long repeats = 1;
    if (auto text = args.value("repeats"); text && !parseUnsigned(*text, 1, 65535, repeats))
        return usageError("config add",
                          "--repeats needs a count from 1 to 65535, not '" + *text + "'");

    OpenModule module(global);
    if (!module.ok()) return kExitFailed;
    const ModuleOutcome outcome =
        storeConfiguration(name, sections, static_cast<unsigned>(repeats));
    if (outcome.kind == ModuleOutcome::Invalid) return usageError("config add", outcome.text);
    if (outcome.kind != ModuleOutcome::Done) {
        reportError(outcome.text);
        return kExitFailed;
    }
    std::fprintf(LibraryConsole::out(), "%s\n", outcome.text.c_str());
    return kExitOk;
}

int removeConfig(const std::string& name, const GlobalOptions& global) {
    OpenModule module(global);
    if (!module.ok()) return kExitFailed;
    const std::vector<ConfigView> before = readConfigurations();
    if (findByName(before, name) == nullptr) {
        reportError("no stored configuration is named \"" + name + "\"");
        return kExitFailed;
    }
    const ConfigView* activeBefore = activeConfiguration(before);
    const std::string activeName = activeBefore != nullptr ? activeBefore->name : "";
    if (removeTgtCfg(name.c_str()) != 0) {
        reportLibraryFailure("cannot remove \"" + name + "\"");
        return kExitFailed;
    }
    std::fprintf(LibraryConsole::out(), "Removed \"%s\"\n", name.c_str());

    // The module keeps its active position while the configurations behind
    // the removed one move up, so the active one may change or vanish.
    std::optional<int> position = activePosition();
    const std::string where = position ? " " + std::to_string(*position) : "";
    if (!activePoints()) {
        reportError("note: the active position" + where +
                    " holds no configuration now; choose one with: quillon activate");
    } else if (!activeName.empty()) {
        const ConfigView* activeAfter = activeConfiguration(readConfigurations());
        if (activeAfter == nullptr || activeAfter->name != activeName)
            reportError("note: the active position" + where + " no longer holds \"" + activeName +
                        "\"" + (activeAfter ? "; it holds \"" + activeAfter->name + "\" now" : ""));
    }
    return kExitOk;
}

}  // namespace

int runConfig(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("config", kHelp, words, kOptions, global, args)) return *done;
    if (args.positional.empty()) return usageError("config", "say add or rm");
    const std::string& action = args.positional[0];
    if (action != "add" && action != "rm")
        return usageError("config", "unknown action '" + action + "' (add or rm)");
    if (args.positional.size() != 2)
        return usageError("config", action + " takes exactly one NAME (quote names with spaces)");
    if (action == "add") return addConfig(args.positional[1], args, global);
    if (args.has("section") || args.has("repeats"))
        return usageError("config rm", "rm takes no --section or --repeats");
    return removeConfig(args.positional[1], global);
}

}  // namespace quillon::cli
