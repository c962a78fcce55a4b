#include "module_command.h"

#include <cmath>
#include <initializer_list>

namespace quillon::cli::publish {
namespace {

using Json = nlohmann::json;

constexpr unsigned kMostAveraged = 1000;
constexpr unsigned long kMostInSeries = 1000000;
constexpr double kLongestInterval = 86400;
constexpr size_t kLongestText = 1024;

struct Refusal {
    std::string text;
};

// A key of the command that no op knows is most likely a typing error, which
// would otherwise silently measure something else than meant.
void onlyKeys(const Json& cmd, std::initializer_list<const char*> allowed) {
    for (const auto& item : cmd.items()) {
        if (item.key() == "id" || item.key() == "op") continue;
        bool known = false;
        for (const char* name : allowed) known = known || item.key() == name;
        if (!known) throw Refusal{"unknown field '" + item.key() + "'"};
    }
}

// A whole number in [minimum, maximum]; 3.0 counts as whole, "3" and 3.5 do not.
unsigned long wholeNumber(const Json& cmd, const char* key, unsigned long minimum,
                          unsigned long maximum) {
    const Json& value = cmd.at(key);
    double number = 0;
    if (value.is_number_unsigned() || value.is_number_integer()) {
        if (value.is_number_integer() && value.get<long long>() < 0)
            throw Refusal{std::string(key) + " must not be negative"};
        number = static_cast<double>(value.get<unsigned long long>());
    } else if (value.is_number_float() && std::floor(value.get<double>()) == value.get<double>()) {
        number = value.get<double>();
        if (number < 0) throw Refusal{std::string(key) + " must not be negative"};
    } else {
        throw Refusal{std::string(key) + " must be a whole number"};
    }
    if (number < static_cast<double>(minimum) || number > static_cast<double>(maximum))
        throw Refusal{std::string(key) + " must be from " + std::to_string(minimum) + " to " +
                      std::to_string(maximum)};
    return static_cast<unsigned long>(number);
}

std::string text(const Json& cmd, const char* key) {
    if (!cmd.contains(key)) return {};
    const Json& value = cmd.at(key);
    if (!value.is_string()) throw Refusal{std::string(key) + " must be a string"};
    std::string result = value.get<std::string>();
    if (result.size() > kLongestText)
        throw Refusal{std::string(key) + " is longer than " + std::to_string(kLongestText) +
                      " bytes"};
    return result;
}

LampRequest lampPolicy(const Json& cmd) {
    const std::string mode = cmd.contains("lamp") ? text(cmd, "lamp") : "auto";
    if (mode == "auto") return LampRequest::Auto;
    if (mode == "on") return LampRequest::On;
    if (mode == "off") return LampRequest::Off;
    if (mode == "keep") return LampRequest::Keep;
    throw Refusal{"lamp must be auto, on, off or keep, not '" + mode + "'"};
}

Quantity quantity(const Json& cmd) {
    const std::string name = cmd.contains("quantity") ? text(cmd, "quantity") : "intensity";
    for (Quantity q : {Quantity::Intensity, Quantity::Reflectance, Quantity::Absorbance})
        if (name == namesOf(q).key) return q;
    throw Refusal{"quantity must be intensity, reflectance or absorbance, not '" + name + "'"};
}

ScanSettings scanSettings(const Json& cmd) {
    ScanSettings scan;
    if (cmd.contains("average"))
        scan.average = static_cast<unsigned>(wholeNumber(cmd, "average", 1, kMostAveraged));
    scan.lamp = lampPolicy(cmd);
    scan.quantity = quantity(cmd);
    scan.sample = text(cmd, "sample");
    scan.comment = text(cmd, "comment");
    return scan;
}

ModuleCommand readCommand(const Json& cmd) {
    if (!cmd.contains("op")) throw Refusal{"no op"};
    if (!cmd.at("op").is_string()) throw Refusal{"op must be a string"};
    const std::string op = cmd.at("op").get<std::string>();
    ModuleCommand command;
    if (op == "scan") {
        onlyKeys(cmd, {"average", "lamp", "quantity", "sample", "comment"});
        command.op = Op::Scan;
        command.scan = scanSettings(cmd);
    } else if (op == "series") {
        onlyKeys(cmd, {"count", "interval_s", "average", "lamp", "quantity", "sample", "comment"});
        command.op = Op::Series;
        if (!cmd.contains("count")) throw Refusal{"series needs a count (0: until stopped)"};
        command.count = wholeNumber(cmd, "count", 0, kMostInSeries);
        if (cmd.contains("interval_s")) {
            const Json& interval = cmd.at("interval_s");
            if (!interval.is_number()) throw Refusal{"interval_s must be a number of seconds"};
            command.intervalSeconds = interval.get<double>();
            if (!(command.intervalSeconds >= 0 && command.intervalSeconds <= kLongestInterval))
                throw Refusal{"interval_s must be from 0 to 86400"};
        }
        command.scan = scanSettings(cmd);
    } else if (op == "stop" || op == "status") {
        onlyKeys(cmd, {});
        command.op = op == "stop" ? Op::Stop : Op::Status;
    } else if (op == "lamp") {
        onlyKeys(cmd, {"on"});
        command.op = Op::Lamp;
        if (!cmd.contains("on") || !cmd.at("on").is_boolean())
            throw Refusal{"lamp needs \"on\": true or false"};
        command.lampOn = cmd.at("on").get<bool>();
    } else if (op == "activate") {
        onlyKeys(cmd, {"position"});
        command.op = Op::Activate;
        if (!cmd.contains("position")) throw Refusal{"activate needs a position"};
        command.position = wholeNumber(cmd, "position", 0, 255);
    } else {
        throw Refusal{"unknown op '" + op + "'"};
    }
    return command;
}

}  // namespace

ParsedCommand parseCommand(std::string_view payload) {
    ParsedCommand parsed;
    Json cmd;
    try {
        cmd = Json::parse(payload);
    } catch (const Json::exception&) {
        parsed.error = "not JSON";
        return parsed;
    }
    if (!cmd.is_object()) {
        parsed.error = "a command is a JSON object";
        return parsed;
    }
    if (cmd.contains("id")) {
        const Json& id = cmd.at("id");
        if (!id.is_string() && !id.is_number_integer() && !id.is_number_unsigned()) {
            parsed.error = "id must be a string or an integer";
            return parsed;
        }
        parsed.id = id;
    }
    try {
        parsed.command = readCommand(cmd);
    } catch (const Refusal& refusal) {
        parsed.error = refusal.text;
    } catch (const Json::exception& e) {
        parsed.error = std::string("bad command: ") + e.what();
    }
    return parsed;
}

}  // namespace quillon::cli::publish
