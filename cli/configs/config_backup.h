// The file `quillon config export` writes and `quillon config import` reads:
// a module's configurations with their positions, names, repeat counts and
// sections, and its active position, as JSON:
//
//   {"format": "quillon configurations", "version": 1, "active_position": 2,
//    "configurations": [{"position": 0, "name": "...", "repeats": 1,
//                        "sections": [{"type": "Column", "start": 900, "end": 1700,
//                                      "width": 7.03, "patterns": 228, "exposure": 0.635}],
//                        "record": "<hex>"}, ...]}
//
// "record" is the configuration's stored record image, so an import stores
// exactly what was exported (fields no function shows included); it must agree
// with the fields beside it. Without it the fields alone are stored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "section_values.h"

namespace quillon::cli {

struct BackupConfig {
    std::string name;
    unsigned repeats = 1;
    std::vector<SectionRequest> sections;
    std::vector<uint8_t> record;  // empty when the file gives none
};

struct Backup {
    int activePosition = 0;
    std::vector<BackupConfig> configs;  // in stored order: position p is configs[p]
};

std::string backupText(const Backup& backup);

// Checks everything a file says against the library's tables and limits;
// the reason (naming the configuration) when anything is wrong.
std::optional<std::string> readBackup(const std::string& text, Backup& backup);

}  // namespace quillon::cli
