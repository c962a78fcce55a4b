// The commands a module takes on its `cmd` topic, read from their JSON. Every
// refusal is a text for the reply; nothing here touches the module.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "quantity.h"

namespace quillon::cli::publish {

enum class LampRequest {
    Auto,  // on for the scans, off again after them unless it was on before
    On,    // on, and left on
    Off,   // off for the scans (a dark spectrum), back on after them if it was
    Keep,  // as it is
};

struct ScanSettings {
    unsigned average = 1;
    LampRequest lamp = LampRequest::Auto;
    Quantity quantity = Quantity::Intensity;
    std::string sample;
    std::string comment;
};

enum class Op { Scan, Series, Stop, Lamp, Activate, Status };

struct ModuleCommand {
    Op op = Op::Status;
    ScanSettings scan;           // scan, series
    unsigned long count = 1;     // series; 0: until stopped
    double intervalSeconds = 0;  // series
    bool lampOn = false;         // lamp
    size_t position = 0;         // activate
};

struct ParsedCommand {
    nlohmann::json id;  // the sender's id; null when none could be read
    std::optional<ModuleCommand> command;
    std::string error;  // why there is no command
};

// Reads one message of the `cmd` topic.
ParsedCommand parseCommand(std::string_view payload);

}  // namespace quillon::cli::publish
