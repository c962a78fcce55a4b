#include "config_transfer.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "config_backup.h"
#include "exit_status.h"
#include "library_console.h"
#include "quillon.h"
#include "quillonlib.h"
#include "series_stream.h"

namespace quillon::cli {
namespace {

// The module at the global index, opened through quillon.h; closed with it.
class Handle {
  public:
    explicit Handle(const GlobalOptions& global) {
        quillon_module_info infos[16];
        size_t count = 0;
        quillon_result result = quillon_list(infos, 16, &count);
        if (result == QUILLON_OK && (global.device < 0 || static_cast<size_t>(global.device) >=
                                                              std::min<size_t>(count, 16))) {
            reportError("no module at index " + std::to_string(global.device) + " (" +
                        std::to_string(count) + " found)");
            return;
        }
        if (result == QUILLON_OK) result = quillon_open(infos[global.device].path, &module_);
        if (result != QUILLON_OK) {
            reportError(std::string("cannot open module ") + std::to_string(global.device) + ": " +
                        quillon_result_text(result));
            return;
        }
        reportRecovery(module_);
    }
    ~Handle() { quillon_close(module_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    quillon_module* get() const { return module_; }

  private:
    quillon_module* module_ = nullptr;
};

std::string sectionType(int type) {
    const char* name = quillon_scan_type_name(type);
    return name != nullptr ? name : "";
}

bool readBackupFile(const std::string& file, Backup& backup) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        reportError("cannot read " + file);
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    if (auto why = readBackup(text.str(), backup)) {
        reportError(file + ": " + *why + "; nothing was stored");
        return false;
    }
    return true;
}

}  // namespace

int exportConfigurations(const std::string& file, const GlobalOptions& global) {
    Handle module(global);
    if (module.get() == nullptr) return kExitFailed;
    size_t count = 0, active = 0;
    quillon_config_count(module.get(), &count);
    if (quillon_active_get(module.get(), &active) != QUILLON_OK) {
        reportError("the module's active position cannot be read");
        return kExitFailed;
    }
    Backup backup;
    backup.activePosition = static_cast<int>(active);
    for (size_t p = 0; p < count; ++p) {
        BackupConfig config;
        char name[64] = {};
        quillon_section sections[5];
        size_t sectionCount = 0;
        uint16_t repeats = 0;
        uint8_t record[256];
        size_t length = 0;
        if (quillon_config_name(module.get(), p, name, sizeof name) != QUILLON_OK ||
            quillon_config_sections(module.get(), p, sections, 5, &sectionCount, &repeats) !=
                QUILLON_OK ||
            quillon_config_record(module.get(), p, record, sizeof record, &length) != QUILLON_OK) {
            reportError("configuration " + std::to_string(p) + " cannot be read");
            return kExitFailed;
        }
        config.name = name;
        config.repeats = repeats;
        config.record.assign(record, record + length);
        for (size_t s = 0; s < sectionCount; ++s) {
            SectionRequest section;
            section.type = sectionType(sections[s].scan_type);
            section.scanType = static_cast<unsigned>(sections[s].scan_type);
            section.startNm = sections[s].start_nm;
            section.endNm = sections[s].end_nm;
            section.width = sections[s].width_nm;
            section.patterns = sections[s].patterns;
            section.exposure = sections[s].exposure_ms;
            config.sections.push_back(section);
        }
        backup.configs.push_back(std::move(config));
    }
    const std::string text = backupText(backup);
    if (!writeWholeFile(file, [&](FILE* out) { std::fputs(text.c_str(), out); }))
        return kExitFailed;
    std::fprintf(LibraryConsole::out(), "Exported %zu configuration%s to %s\n", count,
                 count == 1 ? "" : "s", file.c_str());
    return kExitOk;
}

int importConfigurations(const std::string& file, bool replace, const GlobalOptions& global) {
    Backup backup;
    if (!readBackupFile(file, backup)) return kExitUsage;
    Handle module(global);
    if (module.get() == nullptr) return kExitFailed;
    // Names pick configurations in the older interface: an import never
    // makes two of one name.
    std::vector<std::string> names;
    size_t stored = 0;
    quillon_config_count(module.get(), &stored);
    for (size_t p = 0; !replace && p < stored; ++p) {
        char name[64] = {};
        quillon_config_name(module.get(), p, name, sizeof name);
        names.push_back(name);
    }
    for (const BackupConfig& given : backup.configs) {
        if (std::find(names.begin(), names.end(), given.name) != names.end()) {
            reportError(file + ": a configuration named \"" + given.name + "\" is " +
                        (replace ? "in the file twice" : "stored already") +
                        "; nothing was stored");
            return kExitUsage;
        }
        names.push_back(given.name);
    }
    std::vector<std::vector<quillon_section>> sections(backup.configs.size());
    std::vector<quillon_stored_config> configs(backup.configs.size());
    for (size_t i = 0; i < backup.configs.size(); ++i) {
        const BackupConfig& given = backup.configs[i];
        for (const SectionRequest& s : given.sections)
            sections[i].push_back({static_cast<int>(s.scanType), s.width,
                                   static_cast<uint16_t>(s.startNm), static_cast<uint16_t>(s.endNm),
                                   static_cast<uint16_t>(s.patterns), s.exposure});
        configs[i] = {given.name.c_str(),
                      sections[i].data(),
                      sections[i].size(),
                      static_cast<uint16_t>(given.repeats),
                      given.record.empty() ? nullptr : given.record.data(),
                      given.record.size()};
    }
    char reason[256] = {};
    const quillon_result result =
        quillon_configs_store(module.get(), configs.data(), configs.size(), replace ? 1 : 0,
                              static_cast<size_t>(backup.activePosition), reason, sizeof reason);
    if (result != QUILLON_OK) {
        reportError(file + ": " + (*reason != '\0' ? reason : quillon_result_text(result)) +
                    (result == QUILLON_ERR_INVALID_ARGUMENT ? "; nothing was stored" : ""));
        return result == QUILLON_ERR_INVALID_ARGUMENT ? kExitUsage : kExitFailed;
    }
    std::fprintf(LibraryConsole::out(), "%s %zu configuration%s from %s\n",
                 replace ? "Replaced the module's configurations by" : "Added", configs.size(),
                 configs.size() == 1 ? "" : "s", file.c_str());
    return kExitOk;
}

int removeAllConfigurations(const GlobalOptions& global) {
    Handle module(global);
    if (module.get() == nullptr) return kExitFailed;
    size_t count = 0;
    quillon_config_count(module.get(), &count);
    char reason[256] = {};
    const quillon_result result =
        quillon_configs_store(module.get(), nullptr, 0, 1, 0, reason, sizeof reason);
    if (result != QUILLON_OK) {
        reportError(std::string("cannot remove the configurations: ") +
                    (*reason != '\0' ? reason : quillon_result_text(result)));
        return kExitFailed;
    }
    std::fprintf(LibraryConsole::out(), "Removed all %zu configurations\n", count);
    return kExitOk;
}

}  // namespace quillon::cli
