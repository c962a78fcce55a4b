#include "config_backup.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "stored_configs.h"

namespace quillon::cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "quillon configurations";
constexpr int kVersion = 1;

std::string hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

bool unhex(const std::string& text, std::vector<uint8_t>& bytes) {
    if (text.size() % 2 != 0 || text.empty()) return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        for (size_t k = i; k < i + 2; ++k) {
            const char c = text[k];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return true;
}

// A JSON number as the text section checks take; nothing for anything else.
std::optional<std::string> numberText(const Json& value, bool whole) {
    if (whole && value.is_number_unsigned()) return std::to_string(value.get<uint64_t>());
    if (whole || !value.is_number()) return std::nullopt;
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value.get<double>());
    return std::string(text);
}

std::optional<std::string> readSection(const Json& json, SectionRequest& section) {
    if (!json.is_object()) return std::string("a section is not an object");
    std::map<std::string, std::string> fields;
    for (const auto& [key, value] : json.items()) {
        std::optional<std::string> text;
        if (key == "type" && value.is_string()) text = value.get<std::string>();
        if (key == "start" || key == "end" || key == "patterns") text = numberText(value, true);
        if (key == "width" || key == "exposure") text = numberText(value, false);
        if (!text) return "\"" + key + "\" is unknown or not of its kind";
        fields[key] = *text;
    }
    return sectionFromFields(fields, section);
}

std::optional<std::string> readConfig(const Json& json, size_t position, BackupConfig& config) {
    if (!json.is_object()) return std::string("not an object");
    for (const auto& [key, value] : json.items()) {
        if (key != "position" && key != "name" && key != "repeats" && key != "sections" &&
            key != "record")
            return "unknown key \"" + key + "\"";
    }
    const auto position_ = json.find("position");
    if (position_ == json.end() || !position_->is_number_unsigned() ||
        position_->get<uint64_t>() != position)
        return "\"position\" must be " + std::to_string(position) +
               " (configurations in stored order)";
    const auto name = json.find("name");
    if (name == json.end() || !name->is_string()) return std::string("\"name\" is missing");
    config.name = name->get<std::string>();
    if (auto why = checkConfigName(config.name)) return why;
    const auto repeats = json.find("repeats");
    if (repeats == json.end() || !repeats->is_number_unsigned() || repeats->get<uint64_t>() < 1 ||
        repeats->get<uint64_t>() > 65535)
        return std::string("\"repeats\" must be a count from 1 to 65535");
    config.repeats = static_cast<unsigned>(repeats->get<uint64_t>());
    const auto sections = json.find("sections");
    if (sections == json.end() || !sections->is_array())
        return std::string("\"sections\" is missing");
    for (size_t s = 0; s < sections->size(); ++s) {
        SectionRequest section;
        if (auto why = readSection((*sections)[s], section))
            return "section " + std::to_string(s + 1) + ": " + *why;
        config.sections.push_back(section);
    }
    if (auto why = checkSections(config.sections)) return why;
    if (const auto record = json.find("record"); record != json.end()) {
        if (!record->is_string() || !unhex(record->get<std::string>(), config.record))
            return std::string("\"record\" is not a hexadecimal record image");
    }
    return std::nullopt;
}

}  // namespace

std::string backupText(const Backup& backup) {
    Json configs = Json::array();
    for (size_t p = 0; p < backup.configs.size(); ++p) {
        const BackupConfig& config = backup.configs[p];
        Json sections = Json::array();
        for (const SectionRequest& s : config.sections)
            sections.push_back({{"type", s.type},
                                {"start", s.startNm},
                                {"end", s.endNm},
                                {"width", s.width},
                                {"patterns", s.patterns},
                                {"exposure", s.exposure}});
        Json entry = {{"position", p},
                      {"name", config.name},
                      {"repeats", config.repeats},
                      {"sections", sections}};
        if (!config.record.empty()) entry["record"] = hex(config.record);
        configs.push_back(entry);
    }
    const Json file = {{"format", kFormat},
                       {"version", kVersion},
                       {"active_position", backup.activePosition},
                       {"configurations", configs}};
    return file.dump(2) + "\n";
}

std::optional<std::string> readBackup(const std::string& text, Backup& backup) {
    const Json file = Json::parse(text, nullptr, false);
    if (file.is_discarded() || !file.is_object()) return std::string("not a JSON object");
    const auto format = file.find("format");
    if (format == file.end() || *format != kFormat)
        return std::string("not a file of quillon configurations (\"format\")");
    const auto version = file.find("version");
    if (version == file.end() || *version != kVersion)
        return std::string("written in another version of the format");
    const auto configs = file.find("configurations");
    if (configs == file.end() || !configs->is_array())
        return std::string("\"configurations\" is missing");
    if (configs->size() > static_cast<size_t>(kMaxConfigs))
        return std::to_string(configs->size()) + " configurations; a module stores at most " +
               std::to_string(kMaxConfigs);
    Backup read;
    for (size_t p = 0; p < configs->size(); ++p) {
        BackupConfig config;
        if (auto why = readConfig((*configs)[p], p, config))
            return "configuration " + std::to_string(p) + ": " + *why;
        read.configs.push_back(std::move(config));
    }
    const auto active = file.find("active_position");
    if (active == file.end() || !active->is_number_unsigned() ||
        active->get<uint64_t>() >= static_cast<uint64_t>(kMaxConfigs))
        return std::string("\"active_position\" must be a position from 0 to 19");
    read.activePosition = static_cast<int>(active->get<uint64_t>());
    backup = std::move(read);
    return std::nullopt;
}

}  // namespace quillon::cli
