// quillon config add|rm: storing and removing configurations on the module.
#include <cstdio>

#include "command_frame.h"
#include "config_store.h"
#include "config_transfer.h"
#include "exit_status.h"
#include "library_console.h"
#include "quillonlib.h"
#include "section_values.h"
#include "stored_configs.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon config add NAME --section SECTION [--section SECTION ...] [--repeats N]\n"
    "       quillon config rm NAME | --all\n"
    "       quillon config export FILE\n"
    "       quillon config import FILE [--replace]\n"
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
    "rm removes the stored configuration NAME, or with --all every configuration.\n"
    "\n"
    "export writes the module's configurations (positions, names, repeat counts,\n"
    "sections, each one's record as stored) and its active position to FILE as JSON.\n"
    "import checks everything FILE holds, then stores its configurations after the\n"
    "module's, or with --replace in place of them all, with FILE's active position.\n"
    "Every change is one save, journaled: a save cut short (a killed program, a\n"
    "pulled cable) is finished the next time the module is opened.\n";

const OptionSpec kOptions[] = {
    {"section", true}, {"repeats", true}, {"all", false}, {"replace", false}};

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

// What became of the active configuration after a removal, when anything
// did: the library keeps the same one active (its position moves up when one
// before it goes) and makes position 0 active when the active one is removed.
// The library tells a position's configuration only by its point count, so
// where several share the count the note names them all rather than guess.
// `activeName`: the active one before, when its count named it alone.
std::optional<std::string> activeNote(const std::string& removed, const std::string& activeName,
                                      std::optional<int> positionBefore) {
    const std::optional<int> position = activePosition();
    const std::optional<unsigned> points = activePoints();
    if (!points)
        return "the active position" +
               (position ? " " + std::to_string(*position) : std::string()) +
               " holds no configuration now; choose one with: quillon activate";
    // Without a name, only a jump to position 0 from past 1 shows for sure
    // that the active one went; from 0 or 1 it may have, or not.
    bool wasActive = activeName == removed;
    bool known = !activeName.empty();
    if (!known && position && positionBefore && *positionBefore > 1) {
        wasActive = *position == 0;
        known = true;
    }
    if (known && !wasActive) return std::nullopt;
    const std::vector<ConfigView> after = readConfigurations();
    const std::vector<const ConfigView*> now = candidatesFor(after, *points);
    std::string names;
    for (size_t i = 0; i < now.size(); ++i)
        names += (i == 0 ? "\"" : i + 1 == now.size() ? " or \"" : ", \"") + now[i]->name + "\"";
    if (now.size() > 1)
        names += " (" + std::to_string(*points) +
                 " points each; `quillon configs --positions` tells which)";
    const std::string where = position ? " " + std::to_string(*position) : std::string();
    if (!known) return "the active position" + where + " holds " + names + " now";
    const std::string which = activeName.empty() ? "" : " \"" + activeName + "\"";
    return "the active configuration" + which + " was removed; position" + where +
           " is active now, holding " + names;
}

int removeConfig(const std::string& name, const GlobalOptions& global) {
    OpenModule module(global);
    if (!module.ok()) return kExitFailed;
    const std::vector<ConfigView> before = readConfigurations();
    if (findByName(before, name) == nullptr) {
        reportError("no stored configuration is named \"" + name + "\"");
        return kExitFailed;
    }
    const std::optional<int> positionBefore = activePosition();
    const ConfigView* activeBefore = activeConfiguration(before);
    const std::string activeName = activeBefore != nullptr ? activeBefore->name : "";
    if (removeTgtCfg(name.c_str()) != 0) {
        reportLibraryFailure("cannot remove \"" + name + "\"");
        return kExitFailed;
    }
    std::fprintf(LibraryConsole::out(), "Removed \"%s\"\n", name.c_str());
    if (auto note = activeNote(name, activeName, positionBefore)) reportError("note: " + *note);
    return kExitOk;
}

}  // namespace

int runConfig(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("config", kHelp, words, kOptions, global, args)) return *done;
    if (args.positional.empty()) return usageError("config", "say add, rm, export or import");
    const std::string& action = args.positional[0];
    if (action != "add" && action != "rm" && action != "export" && action != "import")
        return usageError("config", "unknown action '" + action + "' (add, rm, export or import)");
    if (args.has("replace") && action != "import")
        return usageError("config", "--replace belongs to import");
    if (args.has("all") && action != "rm") return usageError("config", "--all belongs to rm");
    if (action != "add" && (args.has("section") || args.has("repeats")))
        return usageError(("config " + action).c_str(),
                          action + " takes no --section or --repeats");
    if (action == "rm" && args.has("all")) {
        if (args.positional.size() != 1) return usageError("config rm", "--all takes no NAME");
        return removeAllConfigurations(global);
    }
    if (args.positional.size() != 2)
        return usageError("config", action + (action == "add" || action == "rm"
                                                  ? " takes exactly one NAME (quote names with "
                                                    "spaces)"
                                                  : " takes exactly one FILE"));
    if (action == "add") return addConfig(args.positional[1], args, global);
    if (action == "export") return exportConfigurations(args.positional[1], global);
    if (action == "import")
        return importConfigurations(args.positional[1], args.has("replace"), global);
    return removeConfig(args.positional[1], global);
}

}  // namespace quillon::cli
