// What every command does first: parse its words (its own options plus the
// global --device and --log), answer --help, and explain usage errors.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "arguments.h"
#include "commands.h"

namespace quillon::cli {

// Returns an exit status when the command is done already (help shown, or a
// usage error explained); nothing when it should go on with `args`.
std::optional<int> beginCommand(const char* command, const char* help, const Words& words,
                                std::span<const OptionSpec> specs, GlobalOptions& global,
                                ParsedArguments& args);

// Prints "quillon <command>: <text>" and a pointer to the help; returns kExitUsage.
int usageError(const char* command, const std::string& text);

// Applies global option `name` ("device" or "wait"); the explanation when
// `value` does not fit it.
std::optional<std::string> setGlobalOption(const std::string& name, const std::string& value,
                                           GlobalOptions& global);

// The options every command accepts, for its help text.
extern const char* const kGlobalOptionsHelp;

}  // namespace quillon::cli
