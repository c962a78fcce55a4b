#include "command_frame.h"

#include <cstdio>
#include <vector>

#include "exit_status.h"
#include "library_console.h"

namespace quillon::cli {

const char* const kGlobalOptionsHelp =
    "Options of every command:\n"
    "  --device N   use the module at index N of `quillon list` (default 0), or the one\n"
    "               whose serial number is N\n"
    "  --log        write the library's log file (YYYY-MM-DD-HH.log) in the working directory\n"
    "  --wait S     wait up to S seconds (default 10) for a module another program uses\n"
    "  --help       show this help\n";

std::optional<std::string> setGlobalOption(const std::string& name, const std::string& value,
                                           GlobalOptions& global) {
    if (name == "device") {
        global.deviceGiven = true;
        long index = 0;
        const bool digits =
            !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
        if (digits && parseInteger(value, 0, 255, index)) {
            global.device = static_cast<int>(index);
            global.deviceSerial.clear();
        } else if (!digits && !value.empty() && value[0] != '-') {
            global.deviceSerial = value;
        } else {
            return "--device needs a module index, not '" + value + "'";
        }
    } else if (name == "wait") {
        double seconds = 0;
        if (!parseFiniteDouble(value, seconds) || seconds < 0 || seconds > 86400)
            return "--wait needs seconds from 0 to 86400, not '" + value + "'";
        global.waitSeconds = seconds;
    }
    return std::nullopt;
}

int usageError(const char* command, const std::string& text) {
    std::fprintf(stderr, "quillon %s: %s\n", command, text.c_str());
    std::fprintf(stderr, "Try 'quillon %s --help'.\n", command);
    return kExitUsage;
}

std::optional<int> beginCommand(const char* command, const char* help, const Words& words,
                                std::span<const OptionSpec> specs, GlobalOptions& global,
                                ParsedArguments& args) {
    std::vector<OptionSpec> all(specs.begin(), specs.end());
    all.push_back({"device", true});
    all.push_back({"wait", true});
    all.push_back({"log", false});
    all.push_back({"help", false});
    if (auto error = parseArguments(words, all, args)) return usageError(command, *error);
    if (args.has("help")) {
        std::fprintf(LibraryConsole::out(), "%s\n%s", help, kGlobalOptionsHelp);
        return kExitOk;
    }
    for (const char* name : {"device", "wait"}) {
        if (auto value = args.value(name))
            if (auto error = setGlobalOption(name, *value, global))
                return usageError(command, *error);
    }
    if (args.has("log")) global.log = true;
    return std::nullopt;
}

}  // namespace quillon::cli
